// Prints the version resource of a file as Name=Value lines, so the version
// block of the built executable can be checked where only Wine runs it.
//
//   verinfo FILE [NAME...]
//
// Without names it prints the usual string entries of the 040904E4 block,
// then Translation (language and code page pairs, in hex) and the two binary
// versions of the fixed part. An entry that is absent prints nothing.
// Exit code: 0 done, 1 no version resource, 2 bad command line.
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kStringBlock = "\\StringFileInfo\\040904E4\\";

constexpr const char* kDefaultNames[] = {
    "Comments",       "CompanyName",      "FileDescription", "FileVersion",    "InternalName",
    "LegalCopyright", "OriginalFilename", "ProductName",     "ProductVersion",
};

// Raw bytes, with LF only, so the reader sees exactly what the resource holds.
void Emit(std::string_view name, std::string_view value) {
  std::string line;
  line.reserve(name.size() + value.size() + 2);
  line.append(name).append("=").append(value).append("\n");
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD written = 0;
  WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

bool Query(const std::vector<char>& block, const std::string& path, void** value, UINT* length) {
  // VerQueryValueA takes a non-const block; it does not write to it.
  auto* data = const_cast<char*>(block.data());
  return VerQueryValueA(data, path.c_str(), value, length) != FALSE;
}

void PrintString(const std::vector<char>& block, const char* name) {
  void* value = nullptr;
  UINT length = 0;
  if (!Query(block, std::string(kStringBlock) + name, &value, &length) || value == nullptr) return;
  // The length may or may not count the terminator; stop at the first NUL.
  std::string_view text(static_cast<const char*>(value), length);
  text = text.substr(0, text.find('\0'));
  Emit(name, text);
}

std::string Hex(unsigned number, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*X", digits, number);
  return buffer;
}

void PrintTranslation(const std::vector<char>& block) {
  void* value = nullptr;
  UINT length = 0;
  if (!Query(block, "\\VarFileInfo\\Translation", &value, &length) || value == nullptr) return;
  const auto* pairs = static_cast<const WORD*>(value);
  std::string text;
  for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) {
    if (!text.empty()) text += ' ';
    text += Hex(pairs[i], 4) + Hex(pairs[i + 1], 4);
  }
  Emit("Translation", text);
}

std::string Dotted(DWORD high, DWORD low) {
  return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
         std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
}

void PrintFixed(const std::vector<char>& block) {
  void* value = nullptr;
  UINT length = 0;
  if (!Query(block, "\\", &value, &length) || value == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return;
  }
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  Emit("FixedFileVersion", Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS));
  Emit("FixedProductVersion", Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: verinfo FILE [NAME...]\n", stderr);
    return 2;
  }
  const char* file = argv[1];
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(file, &ignored);
  if (size == 0) {
    std::fprintf(stderr, "verinfo: no version resource in %s (error %lu)\n", file,
                 static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  std::vector<char> block(size);
  if (!GetFileVersionInfoA(file, 0, size, block.data())) {
    std::fprintf(stderr, "verinfo: cannot read the version resource of %s (error %lu)\n", file,
                 static_cast<unsigned long>(GetLastError()));
    return 1;
  }

  if (argc > 2) {
    for (int i = 2; i < argc; ++i) PrintString(block, argv[i]);
    return 0;
  }
  for (const char* name : kDefaultNames) PrintString(block, name);
  PrintTranslation(block);
  PrintFixed(block);
  return 0;
}
