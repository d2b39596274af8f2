// A tool that never ends: tests put it in place of ipsec.exe, tarnwick.exe or ipconfig.exe to see that
// the client stops waiting for it. It notes its call ("hung|<arg>...") and then waits forever.
#include <windows.h>

#include "tool_journal.h"

int _dowildcard = 0;

int main(int argc, char **argv) {
  wintools::journal("hung", wintools::arguments(argc, argv));
  for (;;) Sleep(INFINITE);
}
