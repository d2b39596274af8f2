// Initialises the daemon's modules in their fixed start-up order.
#pragma once

void modules_init();
