// Another machine's firmware files as its shell sends them: a fixed list of
// files under /sys, each cut where this machine's reader would cut it, read
// here through the same interface as this machine's own files.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "wmi_standin/firmware_file.h"

namespace kelvarin::wmi_standin {

// A file the catalog may read, relative to the sysfs root, and the most
// bytes it reads of it.
struct FirmwarePath {
  std::string_view path;
  std::size_t limit;
};

// What the other side may send at most: the largest table the reader takes,
// and room for the rest.
inline constexpr std::size_t kMaxSnapshotBytes = std::size_t{1280} * 1024;

// One line of POSIX sh that prints the snapshot from /sys: a line feed and a first line,
// "D PATH" for each of `folders` that is a folder, "F PATH LENGTH" and the
// bytes for each regular readable file of `files`, and an end line. It
// holds no newline, no apostrophe and no exclamation mark, so that it can be
// wrapped in apostrophes for any login shell.
std::string SnapshotScript(std::span<const FirmwarePath> files,
                           std::span<const std::string_view> folders);

class Snapshot final : public FirmwareFiles {
 public:
  [[nodiscard]] std::optional<FileBytes> Read(std::string_view relative,
                                              std::size_t limit) const override;
  [[nodiscard]] bool IsFolder(std::string_view relative) const override;

 private:
  friend std::optional<Snapshot> ParseSnapshot(std::string_view, std::span<const FirmwarePath>,
                                               std::span<const std::string_view>);
  using Files = std::vector<std::pair<std::string, std::string>>;
  [[nodiscard]] Files::const_iterator Find(std::string_view relative) const;
  Files files_;
  std::vector<std::string> folders_;
};

// The snapshot in `bytes`, which come from another machine: nothing when
// they are too many, name a path not asked for or twice, announce more bytes
// than the path's limit or than follow, or lack the end line. What a login
// script printed before the first line is passed over.
std::optional<Snapshot> ParseSnapshot(std::string_view bytes, std::span<const FirmwarePath> files,
                                      std::span<const std::string_view> folders);

}  // namespace kelvarin::wmi_standin
