#include "system/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "system/descriptor.h"
#include "system/interrupt.h"
#include "system/io.h"

namespace kelvarin::system {
namespace {

constexpr std::size_t kMaxLineBytes = 65536;

// One line, a byte at a time so that nothing after it is taken from the
// input; `wake`, when readable, stops the wait.
std::optional<std::string> ReadLine(int fd, int wake) {
  std::string line;
  for (;;) {
    pollfd waits[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
    // Only this program's own handlers interrupt a wait: that is the wake too.
    if (::poll(waits, 2, -1) <= 0 || waits[1].revents != 0) return std::nullopt;
    char c = 0;
    // The program's handlers restart reads.
    const ssize_t got = ::read(fd, &c, 1);
    if (got < 0) return std::nullopt;
    if (got == 0 || c == '\n') break;
    if (line.size() == kMaxLineBytes) return std::nullopt;
    line.push_back(c);
  }
  if (line.ends_with('\r')) line.pop_back();
  return line;
}

// Echo off for as long as it lives.
class EchoOff {
 public:
  explicit EchoOff(int fd) : fd_(fd), on_(::tcgetattr(fd, &saved_) == 0) {
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    on_ = on_ && ::tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;
  ~EchoOff() {
    if (on_) ::tcsetattr(fd_, TCSAFLUSH, &saved_);
  }

 private:
  int fd_;
  termios saved_{};
  bool on_;
};

}  // namespace

std::optional<std::string> ReadSecretLine(std::string_view prompt) {
  if (::isatty(STDIN_FILENO) == 0) return ReadLine(STDIN_FILENO, -1);
  const Descriptor terminal(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!terminal) return std::nullopt;
  const InterruptScope interrupts;  // first: it ends the process only once echo is back
  std::optional<std::string> line;
  {
    const EchoOff quiet(terminal.Get());
    if (WriteAll(terminal.Get(), prompt)) line = ReadLine(terminal.Get(), interrupts.WakeFd());
  }
  (void)WriteAll(terminal.Get(), "\n");  // the Enter that was not echoed
  return line;
}

}  // namespace kelvarin::system
