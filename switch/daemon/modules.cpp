#include "modules.h"

void modules_init() {
}
