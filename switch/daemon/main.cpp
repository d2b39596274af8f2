#include "protocols.h"
#include "startup.h"

int main(int argc, char **argv) {
  protocols_install();
  return portvisor_main(argc, argv);
}
