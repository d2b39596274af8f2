// The protocol modules of portvisor (aggregation with LACP, spanning tree, 802.1X) on the daemon's services:
// fills the L2 module's protocol slots. main calls it before the modules start.
#pragma once

void protocols_install();
