// Management objects of the chip itself: raw registers (0), register blocks (4), chip identity (12)
// and the CPU receive registration (13).
#pragma once

// Registers the handlers with the management server.
void chip_objects_reg();
