// kxqhost: the host program of the datasheet service (see README.md).
#include <cstdio>
#include <cstring>

#include "options.h"
#include "program.h"

int main(int argc, char** argv) {
  kx::kxqhost::Options options;
  const std::string error = kx::kxqhost::ParseOptions(argc, argv, &options);
  if (error == "help") {
    std::fputs(kx::kxqhost::UsageText(), stdout);
    return kx::kxqhost::kExitOk;
  }
  if (!error.empty()) {
    std::fprintf(stderr, "kxqhost: %s\n%s", error.c_str(), kx::kxqhost::UsageText());
    return kx::kxqhost::kExitUsage;
  }
  kx::kxqhost::Program program(std::move(options), stdout, stderr);
  return program.Run();
}
