// Command agent: the device wrappers for settings and the shared CmdAgnt mirror.
#pragma once

#include "records.h"

namespace vornagent {

// Device wrappers: 0 success, 1 failure.
int CmdGetVrnStat(int *on);
int CmdSetVrnStat(int on);
int CmdStartUpVrn(int *on);
int CmdGetAppInfo(IM_P2P_AD_Info *rec, int type);
int CmdSetAppStat(IM_P2P_AD_Status *rec, int type);
int CmdGetAppInfoTH(KaAppInfoTH *rec, int type);
int CmdSetAppStatTH(KaAppStatTH *rec, int type);

// Creates the mirror segment (daemon start); nullptr on failure.
CmdAgnt *CmdAgntInit();
// Attaches the daemon's mirror (clients); nullptr when there is none.
CmdAgnt *cmd_agnt_attach();
void CmdAgntExit(CmdAgnt *agent);

// Highest threshold the library lets a client set for a table position; 0 when none is accepted.
uint32_t threshold_bound(int type, int position);

}  // namespace vornagent
