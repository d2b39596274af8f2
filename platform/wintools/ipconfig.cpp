// ipconfig stand-in: records /flushdns and /registerdns; the name cache itself is not modelled.
#include <cstring>

#include "tool_journal.h"

int _dowildcard = 0;

int main(int argc, char **argv) {
  auto args = wintools::arguments(argc, argv);
  bool known = args.size() == 1 && (args[0] == "/flushdns" || args[0] == "/registerdns");
  wintools::journal("ipconfig", args, known ? "" : "unknown");
  return known ? 0 : 1;
}
