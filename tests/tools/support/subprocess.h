// Runs the built kxqhost as a child process in a temporary folder of its
// own, with its own registration store (KXQ_REGISTRY), and collects its
// exit status, standard output and standard error. Under AddressSanitizer
// the child runs without leak detection (see subprocess.cpp).
#pragma once

#include <string>
#include <vector>

namespace kx::test::tools {

struct Outcome {
  int status = -1;  // exit status; 128 + signal when killed
  std::string out, err;
  // The processor time (user and system) the program took, for the tests
  // of cost: unlike the time on the clock it hardly grows when other
  // processes load the machine.
  double cpu_seconds = 0;
  // The largest resident set the child had, in KiB (from its forking on, so
  // at least what this process had then).
  long peak_kb = 0;
};

// A temporary folder, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs kxqhost with `arguments` in folder `cwd`, KXQ_REGISTRY = `registry`,
// `input` on standard input; waits for it.
Outcome RunHost(const std::vector<std::string>& arguments, const std::string& cwd,
                const std::string& registry, const std::string& input = "");

// What the child changes of itself before it runs the program.
struct ChildSetup {
  // Runs as a user who cannot write what is not writable to others: the
  // caller, or, when the caller is root (who writes anything), "nobody"
  // (user and group 65534).
  bool unprivileged = false;
  // When the caller is root: runs as this user, with a group of the same
  // number and no other (-1: as the caller, or as `unprivileged` says).
  int user = -1;
  // The size a file may grow to (RLIMIT_FSIZE, with SIGXFSZ ignored: a
  // write past it fails as on a full disk); 0: no limit.
  long file_size_limit = 0;
  // Standard input (a file of `input`) is read from this byte on, as what
  // a shell that read a part of a file hands on to a program.
  long input_offset = 0;
};

// The same with the environment changed: "NAME=VALUE" sets, "NAME" removes.
Outcome RunHostWith(const std::vector<std::string>& arguments, const std::string& cwd,
                    const std::vector<std::string>& environment, const std::string& input = "",
                    const ChildSetup& setup = {});

// Runs kxqhost as RunHost does with a terminal as its standard input, on
// which only an end of file is typed.
Outcome RunHostOnTerminal(const std::vector<std::string>& arguments, const std::string& cwd,
                          const std::string& registry);

// Starts kxqhost the same way without waiting; its output goes to the files
// `out` and `err`. Returns the process id.
int StartHost(const std::vector<std::string>& arguments, const std::string& cwd,
              const std::string& registry, const std::string& out, const std::string& err,
              const ChildSetup& setup = {});

std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);

}  // namespace kx::test::tools
