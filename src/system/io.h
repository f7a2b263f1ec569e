// Reading and writing descriptors against a deadline.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "system/descriptor.h"

namespace kelvarin::system {

using Clock = std::chrono::steady_clock;

// What is left until `end`, in whole milliseconds for poll: 0 once it has passed.
int MillisecondsLeft(Clock::time_point end);

// Every byte, or false.
bool WriteAll(int fd, std::string_view bytes);

// Up to `limit` bytes until the peer's end; nothing past the limit or the time.
std::optional<std::string> ReadToEnd(int fd, std::size_t limit, Clock::time_point end);

// Both ends closed on exec.
struct Pipe {
  Descriptor read, write;
};
std::optional<Pipe> MakePipe();

}  // namespace kelvarin::system
