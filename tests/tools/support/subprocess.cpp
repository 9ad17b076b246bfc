#include "support/subprocess.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <sstream>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kx::test::tools {

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
                       const std::vector<std::string>& changes, int in, int out, int err,
                       const ChildSetup& setup = {}) {
  if (setup.file_size_limit > 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{static_cast<rlim_t>(setup.file_size_limit),
                       static_cast<rlim_t>(setup.file_size_limit)};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(127);
  }
  const int user = setup.user >= 0 ? setup.user : setup.unprivileged ? 65534 : -1;
  if (user >= 0 && ::geteuid() == 0 &&
      (::setgroups(0, nullptr) != 0 || ::setgid(static_cast<gid_t>(user)) != 0 ||
       ::setuid(static_cast<uid_t>(user)) != 0)) {
    ::_exit(127);
  }
  if (::chdir(cwd.c_str()) != 0) ::_exit(127);
  ::dup2(in, 0);
  if (setup.input_offset > 0 && ::lseek(0, setup.input_offset, SEEK_SET) < 0) ::_exit(127);
  ::dup2(out, 1);
  ::dup2(err, 2);
  std::vector<std::string> env_text;
  for (char** e = environ; *e; ++e) {
    bool changed = false;
    for (const std::string& change : changes) {
      const std::string name = change.substr(0, change.find('='));
      changed =
          changed || (std::strncmp(*e, name.c_str(), name.size()) == 0 && (*e)[name.size()] == '=');
    }
    if (!changed) env_text.emplace_back(*e);
  }
  for (const std::string& change : changes) {
    if (change.find('=') != std::string::npos) env_text.push_back(change);
  }
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
  return RunHostWith(arguments, cwd, {"KXQ_REGISTRY=" + registry}, input);
}

Outcome RunHostWith(const std::vector<std::string>& arguments, const std::string& cwd,
                    const std::vector<std::string>& environment, const std::string& input,
                    const ChildSetup& setup) {
  const std::string in_path = cwd + "/.stdin", out_path = cwd + "/.stdout",
                    err_path = cwd + "/.stderr";
  WriteText(in_path, input);
  const int in = ::open(in_path.c_str(), O_RDONLY);
  const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  Outcome outcome;
  const pid_t pid = ::fork();
  if (pid == 0) Exec(arguments, cwd, environment, in, out, err, setup);
  ::close(in);
  ::close(out);
  ::close(err);
  int raw = 0;
  struct rusage usage {};
  if (pid > 0 && ::wait4(pid, &raw, 0, &usage) == pid) {
    outcome.status = Status(raw);
    outcome.cpu_seconds =
        static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    outcome.peak_kb = usage.ru_maxrss;
  }
  outcome.out = ReadText(out_path);
  outcome.err = ReadText(err_path);
  return outcome;
}

int StartHost(const std::vector<std::string>& arguments, const std::string& cwd,
              const std::string& registry, const std::string& out_path, const std::string& err_path,
              const ChildSetup& setup) {
  const int in = ::open("/dev/null", O_RDONLY);
  const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const pid_t pid = ::fork();
  if (pid == 0) Exec(arguments, cwd, {"KXQ_REGISTRY=" + registry}, in, out, err, setup);
  ::close(in);
  ::close(out);
  ::close(err);
  return pid;
}

Outcome RunHostOnTerminal(const std::vector<std::string>& arguments, const std::string& cwd,
                          const std::string& registry) {
  Outcome outcome;
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return outcome;
  const char* name = ::ptsname(master);
  const int terminal = name ? ::open(name, O_RDWR | O_NOCTTY) : -1;
  if (terminal < 0) {
    ::close(master);
    return outcome;
  }
  const std::string out_path = cwd + "/.stdout", err_path = cwd + "/.stderr";
  const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(master);
    Exec(arguments, cwd, {"KXQ_REGISTRY=" + registry}, terminal, out, err);
  }
  ::close(terminal);
  ::close(out);
  ::close(err);
  // An end of file typed at the terminal: a program that reads it gets no
  // text instead of waiting for ever.
  const char eof = 4;
  (void)!::write(master, &eof, 1);
  int raw = 0;
  if (pid > 0 && ::waitpid(pid, &raw, 0) == pid) outcome.status = Status(raw);
  ::close(master);
  outcome.out = ReadText(out_path);
  outcome.err = ReadText(err_path);
  return outcome;
}

}  // namespace kx::test::tools
