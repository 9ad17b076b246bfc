// kxqhost: the host program of the datasheet service (see README.md).
#include <cstdio>
#include <cstring>

#include "host/utf.h"
#include "options.h"
#include "program.h"

int main(int argc, char** argv) {
  // Text reaches the module as UTF-16: an argument that is not UTF-8 is
  // refused, never guessed at.
  for (int i = 1; i < argc; ++i) {
    if (!kx::host::internal::Utf8ToUtf16(argv[i])) {
      std::fprintf(stderr, "kxqhost: argument %d is not valid UTF-8\n", i);
      return kx::kxqhost::kExitUsage;
    }
  }
  kx::kxqhost::UseBuildRegistry();
  kx::kxqhost::Options options;
  const std::string error = kx::kxqhost::ParseOptions(argc, argv, &options);
  if (error == "help") {
    std::fputs(kx::kxqhost::UsageText(), stdout);
    return kx::kxqhost::kExitOk;
  }
  if (error == "version") return kx::kxqhost::PrintVersion(stdout);
  if (!error.empty()) {
    std::fprintf(stderr, "kxqhost: %s (%s --help lists the options)\n", error.c_str(),
                 options.program.c_str());
    return kx::kxqhost::kExitUsage;
  }
  kx::kxqhost::Program program(std::move(options), stdout, stderr);
  return program.Run();
}
