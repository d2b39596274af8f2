// vornpolicy: writes a signature policy file from a readable description (see policy_builder.h).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "ipc.h"
#include "policy_builder.h"

// --plain writes the decrypted payload instead of the file (seeds for the policy fuzzer).
int main(int argc, char **argv) {
  bool plain = argc == 4 && std::string(argv[1]) == "--plain";
  if (argc != 3 && !plain) {
    std::fprintf(stderr, "usage: vornpolicy [--plain] <description> <policy file>\n");
    return 2;
  }
  const char *input = argv[argc - 2], *output = argv[argc - 1];
  try {
    std::ifstream description(input);
    if (!description) throw std::runtime_error(std::string("cannot read ") + input);
    std::string base = std::filesystem::absolute(input).parent_path().string();
    auto spec = vornagent::builder::read_description(description, base);
    std::vector<uint8_t> file =
        plain ? vornagent::builder::build_payload(spec) : vornagent::builder::build_policy_file(spec);
    if (file.size() > vornagent::kRawPolicySize)
      throw std::runtime_error("policy larger than the upload segment");
    std::ofstream out(output, std::ios::binary);
    out.write(reinterpret_cast<const char *>(file.data()), static_cast<std::streamsize>(file.size()));
    out.close();  // what is still buffered can fail only here
    if (!out) throw std::runtime_error(std::string("cannot write ") + output);
    std::printf("%zu bytes\n", file.size());
    return 0;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "vornpolicy: %s\n", e.what());
    return 1;
  }
}
