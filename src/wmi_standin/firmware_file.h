// Reading firmware files: untrusted, possibly not files at all.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kelvarin::wmi_standin {

// A path in the system's own form, joined by hand: <filesystem> would cost
// more than the rest of a run's reading and, linked statically, would bring
// the C++ locale machinery into the executable.
#ifdef _WIN32
using NativePath = std::wstring;
#else
using NativePath = std::string;
#endif

// `root`, a separator and `relative` (written with '/', ASCII).
NativePath Join(const NativePath& root, std::string_view relative);

// The bytes of a file, read straight into memory of their own.
class FileBytes {
 public:
  FileBytes(std::unique_ptr<char[]> data, std::size_t size) : data_(std::move(data)), size_(size) {}
  [[nodiscard]] std::string_view Text() const { return {data_.get(), size_}; }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t size_;
};

// At most `limit` bytes of a regular file; nothing when it cannot be opened
// or read, or is anything else: a FIFO, socket, device or folder could block
// or never end (real sysfs attributes are regular files). Opening never
// blocks and never takes a controlling terminal.
std::optional<FileBytes> ReadFirmwareFile(const NativePath& path, std::size_t limit);

bool IsFolder(const NativePath& path);

// Where the catalog finds firmware files, by paths relative to a sysfs root
// (written with '/'): this machine's, or a copy another machine sent.
class FirmwareFiles {
 public:
  virtual ~FirmwareFiles() = default;

  // At most `limit` bytes of a regular file; nothing for anything else.
  [[nodiscard]] virtual std::optional<FileBytes> Read(std::string_view relative,
                                                      std::size_t limit) const = 0;
  [[nodiscard]] virtual bool IsFolder(std::string_view relative) const = 0;
};

// This machine's files under `root`.
class LocalFiles final : public FirmwareFiles {
 public:
  explicit LocalFiles(NativePath root) : root_(std::move(root)) {}
  [[nodiscard]] std::optional<FileBytes> Read(std::string_view relative,
                                              std::size_t limit) const override {
    return ReadFirmwareFile(Join(root_, relative), limit);
  }
  [[nodiscard]] bool IsFolder(std::string_view relative) const override {
    return wmi_standin::IsFolder(Join(root_, relative));
  }

 private:
  NativePath root_;
};

}  // namespace kelvarin::wmi_standin
