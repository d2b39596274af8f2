// Set-up shared by the driver and the software model of the Quorix engine (vorn_matcher.h).
#pragma once

#include <cstdint>

namespace vorn {

// Set-up of the model, called by engine initialisation: builds the character map that folds "A".."Z"
// to "a".."z". The model finds the tables themselves through the engine's base registers.
void initializePmaMem();

}  // namespace vorn
