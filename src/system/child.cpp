#include "system/child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <cerrno>

#include "system/descriptor.h"

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX declares it nowhere

namespace kelvarin::system {
namespace {

// Pointers to the texts, then the null pointer that ends the list.
std::vector<char*> Pointers(const std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (const auto& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// In the forked child, before exec: only calls that need no lock.
[[noreturn]] void BecomeClean(pid_t parent, char** argv, char** environment, int output, int error,
                              int report) {
  ::setsid();
  struct sigaction dflt {};
  dflt.sa_handler = SIG_DFL;
  for (int signal = 1; signal < NSIG; ++signal) (void)::sigaction(signal, &dflt, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
#ifdef __linux__
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(127);  // the parent died before it could ask
#else
  (void)parent;
#endif
  const int input = ::open("/dev/null", O_RDONLY);
  if (input < 0 || ::dup2(input, STDIN_FILENO) < 0 || ::dup2(output, STDOUT_FILENO) < 0 ||
      ::dup2(error, STDERR_FILENO) < 0) {
    const int failed = errno;
    (void)!::write(report, &failed, sizeof failed);
    ::_exit(127);
  }
  // Everything else closes on exec, descriptors this program inherited too
  // (the report pipe already does).
#ifdef __linux__
  if (::close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC) != 0)
#endif
  {
    const long most = std::min(::sysconf(_SC_OPEN_MAX), 65536L);
    for (int fd = STDERR_FILENO + 1; fd < most; ++fd) (void)::fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  environ = environment;
  ::execvp(argv[0], argv);
  const int failed = errno;
  (void)!::write(report, &failed, sizeof failed);
  ::_exit(127);
}

}  // namespace

int Child::Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                 int output, int error) {
  auto args = Pointers(argv);
  auto env = Pointers(environment);
  int ends[2] = {-1, -1};
  if (::pipe2(ends, O_CLOEXEC) != 0) return errno;
  const Descriptor reportRead(ends[0]);
  Descriptor reportWrite(ends[1]);
  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ < 0) return errno;
  if (pid_ == 0) BecomeClean(parent, args.data(), env.data(), output, error, ends[1]);
  reportWrite.Reset();
  // Nothing to read: exec closed the pipe. Else the child says why it failed.
  int failed = 0;
  ssize_t got = 0;
  do {
    got = ::read(reportRead.Get(), &failed, sizeof failed);
  } while (got < 0 && errno == EINTR);
  if (got != sizeof failed) return 0;
  Reap();
  return failed;
}

std::optional<int> Child::Ended() {
  if (!status_ && pid_ > 0) {
    // Seen without reaping, so that the group is still ours to end.
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == pid_) {
      Reap();
    }
  }
  return status_;
}

void Child::End() {
  if (pid_ > 0 && !status_) Reap();
}

void Child::Reap() {
  // The leader, alive or a zombie, keeps the group's number ours.
  ::kill(-pid_, SIGKILL);
  int status = 0;
  pid_t reaped = 0;
  do {
    reaped = ::waitpid(pid_, &status, 0);
  } while (reaped < 0 && errno == EINTR);
  if (reaped == pid_) status_ = status;
}

}  // namespace kelvarin::system
