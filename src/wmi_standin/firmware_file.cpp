#include "wmi_standin/firmware_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "system/descriptor.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kelvarin::wmi_standin {
namespace {

#ifdef _WIN32
int Open(const NativePath& path) { return _wopen(path.c_str(), _O_RDONLY | _O_BINARY); }
// The size of a regular file; nothing for anything else.
std::optional<std::size_t> RegularSize(int fd) {
  struct _stat64 status {};
  if (_fstat64(fd, &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) return std::nullopt;
  return static_cast<std::size_t>(status.st_size);
}
long long ReadSome(int fd, char* buffer, std::size_t size) {
  return _read(fd, buffer, static_cast<unsigned>(size));
}
#else
int Open(const NativePath& path) {
  return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
}
// The size of a regular file; nothing for anything else.
std::optional<std::size_t> RegularSize(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  // A 64-bit size on a 32-bit machine: past what size_t holds is "very large".
  return static_cast<std::size_t>(std::min<std::uintmax_t>(
      static_cast<std::uintmax_t>(status.st_size), std::numeric_limits<std::size_t>::max()));
}
// A regular file's read is not interrupted.
long long ReadSome(int fd, char* buffer, std::size_t size) { return ::read(fd, buffer, size); }
#endif

}  // namespace

NativePath Join(const NativePath& root, std::string_view relative) {
  NativePath path = root;
  path.push_back('/');
  path.append(relative.begin(), relative.end());
  return path;
}

std::optional<FileBytes> ReadFirmwareFile(const NativePath& path, std::size_t limit) {
  const system::Descriptor file(Open(path));
  const auto announced = file ? RegularSize(file.Get()) : std::nullopt;
  if (!announced) return std::nullopt;
  // The size announced and one byte more, to see the end; should the file
  // have grown, page by page. A short read is the end of a regular file.
  std::size_t room = std::min(*announced + 1, limit);
  std::size_t size = 0;
  // Not zeroed first: a table is read once, and every byte used was read.
  auto data = std::unique_ptr<char[]>(new char[room]);
  for (;;) {
    const long long got = ReadSome(file.Get(), data.get() + size, room - size);
    if (got < 0) return std::nullopt;
    size += static_cast<std::size_t>(got);
    if (size < room || size == limit) break;
    const std::size_t grown = std::min(room + 4096, limit);
    auto larger = std::unique_ptr<char[]>(new char[grown]);
    std::copy_n(data.get(), size, larger.get());
    data = std::move(larger);
    room = grown;
  }
  return FileBytes(std::move(data), size);
}

bool IsFolder(const NativePath& path) {
#ifdef _WIN32
  struct _stat64 status {};
  return _wstat64(path.c_str(), &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFDIR;
#else
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
#endif
}

}  // namespace kelvarin::wmi_standin
