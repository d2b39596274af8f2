// switch.conf contents: the store loads the image and the management module reads its blocks from it.
#include "conf.h"
#include "mgmt.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  conf_reset();
  std::vector<uint8_t> image(data, data + size);
  if (conf_load_image(image) == 0) mgmt_conf(ConfAction{kConfActionRead, 0});
  conf_reset();
  return 0;
}
