#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>

#include "app/standard_console.h"
#include "system/io.h"
#include "system/terminal.h"

namespace kelvarin {
namespace {

class StandardConsole final : public Console {
 public:
  StandardConsole() {
    // A closed pipe or a file-size limit must not end the run: the write
    // fails, as on a full disk, and the run says so.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
  }

  bool Write(std::string_view bytes) override {
    while (!bytes.empty()) {
      const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
      } else if (n < 0 && errno == EAGAIN) {
        // A non-blocking output that is full: wait until the reader makes room.
        pollfd output{STDOUT_FILENO, POLLOUT, 0};
        if (::poll(&output, 1, -1) < 0 && errno != EINTR) return false;
      } else if (n == 0 || errno != EINTR) {
        return false;
      }
    }
    return true;
  }

  void WriteError(std::string_view line) override { (void)system::WriteAll(STDERR_FILENO, line); }

  std::optional<std::string> ReadPassword() override {
    return system::ReadSecretLine("Password: ");
  }

  void Pause(std::uint32_t milliseconds) override {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    // A signal cuts nanosleep short; sleep what is left.
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }
};

}  // namespace

std::unique_ptr<Console> MakeStandardConsole() { return std::make_unique<StandardConsole>(); }

}  // namespace kelvarin
