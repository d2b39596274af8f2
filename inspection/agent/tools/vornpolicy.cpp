// vornpolicy: writes a signature policy file from a readable description (see policy_builder.h).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "ipc.h"
#include "policy_builder.h"

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: vornpolicy <description> <policy file>\n");
    return 2;
  }
  try {
    std::ifstream description(argv[1]);
    if (!description) throw std::runtime_error(std::string("cannot read ") + argv[1]);
    std::string base = std::filesystem::absolute(argv[1]).parent_path().string();
    std::vector<uint8_t> file = vornagent::builder::buildPolicyFile(vornagent::builder::readDescription(description, base));
    if (file.size() > vornagent::kRawPolicySize) throw std::runtime_error("policy larger than the upload segment");
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char *>(file.data()), static_cast<std::streamsize>(file.size()));
    if (!out) throw std::runtime_error(std::string("cannot write ") + argv[2]);
    std::printf("%zu bytes\n", file.size());
    return 0;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "vornpolicy: %s\n", e.what());
    return 1;
  }
}
