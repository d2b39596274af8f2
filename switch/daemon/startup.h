// Start-up of portvisor: options, signals, daemon mode with its supervisor, the pid file.
#pragma once

#include <cstdio>

// Work directory and pid file; PORTVISOR_WORKDIR and PORTVISOR_PIDFILE override them for tests.
const char *workdir_path();
const char *pidfile_path();

enum class OptionResult { kRun, kExitOk, kExitFail };
// Parses the command line into the process state and the trace levels; help texts go to `out`.
OptionResult parse_options(int argc, char **argv, FILE *out);

// Creates the pid file, replacing one whose process is gone; 0, or the exit status 1 when another
// instance lives or the file cannot be handled.
int app_assert(const char *path);
// True while the pid recorded in the file names a living process other than this one.
bool test_pid(const char *path, bool &readable);

// Runs the supervisor in the calling process and returns only in a worker; restarts the worker each
// time it exits with status 2 and otherwise exits with the worker's status (1 when killed by a signal).
void app_supervisor();

int portvisor_main(int argc, char **argv);
