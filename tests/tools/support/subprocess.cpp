#include "support/subprocess.h"

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kxqtest {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kxqhost-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
}

namespace {

// The child's side: folder, descriptors, environment, program.
[[noreturn]] void Exec(const std::vector<std::string>& arguments, const std::string& cwd,
                       const std::string& registry, int in, int out, int err) {
  if (::chdir(cwd.c_str()) != 0) ::_exit(127);
  ::dup2(in, 0);
  ::dup2(out, 1);
  ::dup2(err, 2);
  std::vector<std::string> env_text;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "KXQ_REGISTRY=", 13) == 0) continue;
    env_text.emplace_back(*e);
  }
  env_text.push_back("KXQ_REGISTRY=" + registry);
  std::vector<char*> env;
  for (auto& item : env_text) env.push_back(item.data());
  env.push_back(nullptr);
  std::vector<std::string> argv_text{KXQHOST_PROGRAM};
  argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& item : argv_text) argv.push_back(item.data());
  argv.push_back(nullptr);
  ::execve(KXQHOST_PROGRAM, argv.data(), env.data());
  ::_exit(127);
}

int Status(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

}  // namespace

Outcome RunHost(const std::vector<std::string>& arguments, const std::string& cwd,
                const std::string& registry, const std::string& input) {
  const std::string in_path = cwd + "/.stdin", out_path = cwd + "/.stdout",
                    err_path = cwd + "/.stderr";
  WriteText(in_path, input);
  const int in = ::open(in_path.c_str(), O_RDONLY);
  const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  Outcome outcome;
  const pid_t pid = ::fork();
  if (pid == 0) Exec(arguments, cwd, registry, in, out, err);
  ::close(in);
  ::close(out);
  ::close(err);
  int raw = 0;
  if (pid > 0 && ::waitpid(pid, &raw, 0) == pid) outcome.status = Status(raw);
  outcome.out = ReadText(out_path);
  outcome.err = ReadText(err_path);
  return outcome;
}

int StartHost(const std::vector<std::string>& arguments, const std::string& cwd,
              const std::string& registry, const std::string& out_path,
              const std::string& err_path) {
  const int in = ::open("/dev/null", O_RDONLY);
  const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const pid_t pid = ::fork();
  if (pid == 0) Exec(arguments, cwd, registry, in, out, err);
  ::close(in);
  ::close(out);
  ::close(err);
  return pid;
}

}  // namespace kxqtest
