#include "startup.h"

int main(int argc, char **argv) {
    return portvisor_main(argc, argv);
}
