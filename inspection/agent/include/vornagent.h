/* vornagent: the user-space side of the inspection engine.
 *
 * An inspection daemon starts the agents with kaStartup() and stops them with kaShutDown(); short-lived
 * clients (web pages, the policy uploader) call the other ka* functions. The processes share state only
 * through System V shared-memory segments and one semaphore. All calls return 0 for success and -1 for
 * failure unless said otherwise. */
#pragma once

#include <stdint.h>

#ifndef VORNAGENT_API
/* The library exports only its documented C interface. */
#define VORNAGENT_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Application entry of the IM, P2P or anomaly tables (68 bytes, as the control device exchanges it). */
typedef struct IM_P2P_AD_Info {
  uint8_t index;  /* the entry's position within its type */
  uint8_t action; /* 0 or 1 */
  uint16_t app_id;
  char name[64];
} IM_P2P_AD_Info;

/* Port-scan or DDoS threshold rule (72 bytes). */
typedef struct KaAppInfoTH {
  uint8_t index;
  uint8_t action;
  uint16_t rule_id;
  uint32_t threshold;
  char name[64];
} KaAppInfoTH;

enum { kKaAppIm = 0, kKaAppP2P = 1, kKaAppAnomaly = 2 };
enum { kKaThDdos = 0, kKaThPortscan = 1 };
enum { kKaAppTableSize = 128, kKaThTableSize = 16 };

/* The command agent's shared mirror of the module's settings (segment key 13668, 28460 bytes). */
typedef struct CmdAgnt {
  uint32_t ips;    /* 1 on, 0 off */
  uint32_t status; /* cleared before each state change */
  uint32_t unused[4];
  uint32_t app_count[3]; /* valid records in the IM, P2P and anomaly tables */
  uint32_t th_count[2];  /* valid records in the DDoS and port-scan tables */
  IM_P2P_AD_Info app[3][kKaAppTableSize];
  KaAppInfoTH th[2][kKaThTableSize];
} CmdAgnt;

/* The five busiest sources: address texts ("N/A" for an empty place) and event counts (100 bytes). */
typedef struct KaTop5 {
  char address[5][16];
  uint32_t count[5];
} KaTop5;

/* Event totals of the categories the reports show, busiest first; the first n entries are filled. */
typedef struct KaCategoryList {
  uint32_t n;
  char name[12][32];
  uint32_t count[12];
} KaCategoryList;

/* One logged event (84 bytes). */
typedef struct KaRawEvent {
  uint32_t time; /* seconds */
  char name[64]; /* attack name from the loaded policy */
  char address[16];
} KaRawEvent;

/* Daemon side. kaStartup installs a SIGALRM handler and arms a 5-second alarm; the report tick runs
 * in that handler, so the daemon only has to let the signal through until it calls kaShutDown. */
VORNAGENT_API int kaStartup(void);
VORNAGENT_API int kaShutDown(void);

/* Locking and attachment. */
VORNAGENT_API int kaGetKey(void);
VORNAGENT_API int kaSemInternalWait(int id);
VORNAGENT_API int kaSemInternalSignal(int id);
VORNAGENT_API int kaSemWait(int id);
VORNAGENT_API int kaSemSignal(int id);
VORNAGENT_API int kaGetRawDataShm(void);
VORNAGENT_API void kaReleaseRawDataShm(void);
VORNAGENT_API int kaGetSharedMemory(void **addr, int *size);
VORNAGENT_API int kaReleaseSharedMemory(void **addr);

/* Settings. kaGetAllAppInfo and kaGetAllAppInfoTH fill the tables with the module's entries of
 * each type up to its first missing index; -1, with the tables untouched, when the module cannot be
 * reached. */
VORNAGENT_API int kaGetIPSFunction(int *on);
VORNAGENT_API int kaSetIPSFunction(int on);
VORNAGENT_API int kaGetAppInfo(IM_P2P_AD_Info *rec, int type);
VORNAGENT_API int kaSetAppInfo(IM_P2P_AD_Info *rec, int type);
VORNAGENT_API int kaGetAppInfoTH(KaAppInfoTH *rec, int type);
VORNAGENT_API int kaSetAppInfoTH(KaAppInfoTH *rec, int type);
VORNAGENT_API int kaGetAllAppInfo(CmdAgnt *agent);
VORNAGENT_API int kaSetAllAppStat(CmdAgnt *agent);
VORNAGENT_API int kaGetAllAppInfoTH(CmdAgnt *agent);
VORNAGENT_API int kaSetAllAppStatTH(CmdAgnt *agent);

/* Policy. */
VORNAGENT_API int kaUpdateSig(void);
VORNAGENT_API int kaGetSigVer(int *major, int *minor);
/* Appends one formatted line to the policy debug log "/var/glb_dbg". */
VORNAGENT_API int mylog(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* Reports. kaGetRawData reads through the attachments of a kaSemWait bracket; n = 0 is the newest
 * event. kaGetAttackName copies the 64-byte name of an attack id, also within such a bracket.
 * kaPaintChart writes the 24-hour chart as PNG to `path`. */
VORNAGENT_API int kaGetTop5(KaTop5 *out);
VORNAGENT_API int kaGetCategory(KaCategoryList *out);
VORNAGENT_API int kaGetRawData(int n, KaRawEvent *out);
VORNAGENT_API int kaGetAttackName(uint32_t id, char out[64]);
VORNAGENT_API int kaResetLog(void);
VORNAGENT_API int kaPaintChart(const char *path);

/* Helpers. */
VORNAGENT_API int kaU32ToAddr(uint32_t addr, char *buf, int show_zero);

#ifdef __cplusplus
}
#endif
