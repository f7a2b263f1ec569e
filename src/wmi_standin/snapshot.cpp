#include "wmi_standin/snapshot.h"

#include <algorithm>
#include <charconv>
#include <memory>

namespace kelvarin::wmi_standin {
namespace {

// After a line feed of its own, so that a login text without one is passed over.
constexpr std::string_view kFirstLine = "\nkelvarin-snapshot\n";
constexpr std::string_view kEndLine = "E";
// A path and a length, or a folder's path, with room to spare.
constexpr std::size_t kMaxLineBytes = 256;

}  // namespace

std::string SnapshotScript(std::span<const FirmwarePath> files,
                           std::span<const std::string_view> folders) {
  // Each file is read twice, once to count what the cap leaves and once to
  // send it: a shell variable cannot hold a NUL byte. A machine without
  // /sys sends no file, as it holds none.
  std::string script = "printf \"\\n";
  script.append(kFirstLine.substr(1, kFirstLine.size() - 2))
      .append("\\n\";if cd /sys 2>/dev/null;then ");
  if (!folders.empty()) {
    script += "for d in";
    for (const auto folder : folders) script.append(" ").append(folder);
    script += ";do [ -d \"$d\" ]&&printf \"D %s\\n\" \"$d\";done;";
  }
  script += "for e in";
  for (const auto& [path, limit] : files) {
    script.append(" ").append(path).append(":").append(std::to_string(limit));
  }
  script +=
      ";do p=${e%:*};c=${e##*:};if [ -f \"$p\" ]&&[ -r \"$p\" ];then "
      "n=$(head -c \"$c\" \"$p\"|wc -c);printf \"F %s %d\\n\" \"$p\" $n;head -c $n \"$p\";fi;"
      "done;fi;printf \"E\\n\"";
  return script;
}

std::optional<FileBytes> Snapshot::Read(std::string_view relative, std::size_t limit) const {
  const auto file = Find(relative);
  if (file == files_.end()) return std::nullopt;
  const std::size_t size = std::min(limit, file->second.size());
  auto data = std::unique_ptr<char[]>(new char[size]);
  std::copy_n(file->second.data(), size, data.get());
  return FileBytes(std::move(data), size);
}

Snapshot::Files::const_iterator Snapshot::Find(std::string_view relative) const {
  return std::ranges::find(files_, relative, &Files::value_type::first);
}

bool Snapshot::IsFolder(std::string_view relative) const {
  return std::ranges::find(folders_, relative) != folders_.end();
}

std::optional<Snapshot> ParseSnapshot(std::string_view bytes, std::span<const FirmwarePath> files,
                                      std::span<const std::string_view> folders) {
  if (bytes.size() > kMaxSnapshotBytes) return std::nullopt;
  std::size_t at = bytes.find(kFirstLine);
  if (at == std::string_view::npos) return std::nullopt;
  at += kFirstLine.size();
  Snapshot snapshot;
  for (;;) {
    const std::size_t end = bytes.find('\n', at);
    if (end == std::string_view::npos || end - at > kMaxLineBytes) return std::nullopt;
    const std::string_view line = bytes.substr(at, end - at);
    at = end + 1;
    if (line == kEndLine) return snapshot;
    const std::string_view rest = line.substr(std::min<std::size_t>(2, line.size()));
    if (line.starts_with("D ")) {
      if (std::ranges::find(folders, rest) == folders.end() || snapshot.IsFolder(rest)) {
        return std::nullopt;
      }
      snapshot.folders_.emplace_back(rest);
      continue;
    }
    const std::size_t blank = rest.rfind(' ');
    if (!line.starts_with("F ") || blank == std::string_view::npos) return std::nullopt;
    const std::string_view path = rest.substr(0, blank), digits = rest.substr(blank + 1);
    const auto known = std::ranges::find(files, path, &FirmwarePath::path);
    std::size_t length = 0;
    const auto [stop, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), length);
    if (known == files.end() || digits.empty() || error != std::errc() ||
        stop != digits.data() + digits.size() || length > known->limit ||
        length > bytes.size() - at || snapshot.Find(path) != snapshot.files_.end()) {
      return std::nullopt;
    }
    snapshot.files_.emplace_back(path, bytes.substr(at, length));
    at += length;
  }
}

}  // namespace kelvarin::wmi_standin
