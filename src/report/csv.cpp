#include "report/csv.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>
#include <utility>

#include "core/text.h"

namespace kelvarin {
namespace {

constexpr char kQuote = '"';

std::array<std::string*, 4> Fields(InventoryRecord& record) {
  return {&record.manufacturer, &record.model, &record.serialNumber, &record.biosVersion};
}

// Steps from character to character: a byte that is no whole character
// counts as one of its own.
std::size_t Step(std::string_view text, std::size_t at, CharacterLength length) {
  return std::max<std::size_t>(length(text, at), 1);
}

// Where the delimiter starts a character, from `at` on; npos if nowhere. A
// double-byte character's second byte may look like it, and is not it. An
// empty delimiter would match everywhere; it matches nowhere instead.
std::size_t FindDelimiter(std::string_view text, std::string_view delimiter, std::size_t at,
                          CharacterLength length) {
  for (; !delimiter.empty() && at < text.size(); at += Step(text, at, length)) {
    if (text.substr(at).starts_with(delimiter)) return at;
  }
  return std::string_view::npos;
}

// Only a character of one byte can be taboo.
void ReplaceTaboo(std::string& value, std::string_view replacement, CharacterLength length) {
  std::string result;
  for (std::size_t at = 0, size = 0; at < value.size(); at += size) {
    size = Step(value, at, length);
    if (size == 1 && IsTaboo(value[at])) {
      result += replacement;
    } else {
      result.append(value, at, size);
    }
  }
  value = std::move(result);
}

void ReplaceDelimiter(std::string& value, std::string_view delimiter, std::string_view replacement,
                      CharacterLength length) {
  for (auto at = FindDelimiter(value, delimiter, 0, length); at != std::string::npos;
       at = FindDelimiter(value, delimiter, at + replacement.size(), length)) {
    value.replace(at, delimiter.size(), replacement);
  }
}

std::string Quoted(std::string_view value) {
  std::string result(1, kQuote);
  result.append(value).push_back(kQuote);
  return result;
}

std::string Join(const std::array<std::string, 4>& fields, std::string_view delimiter) {
  std::string line = fields[0];
  for (std::size_t i = 1; i < fields.size(); ++i) line.append(delimiter).append(fields[i]);
  return line;
}

}  // namespace

std::string EncodeCsvLine(InventoryRecord values, const RunOptions& options,
                          CharacterLength length) {
  const auto fields = Fields(values);
  // Each step runs over all four values before the next one starts.
  for (std::string* value : fields) {
    if (value->empty()) *value = kNotFoundMarker;
  }
  if (!options.tabooReplacement.empty()) {
    for (std::string* value : fields) ReplaceTaboo(*value, options.tabooReplacement, length);
  }
  if (!options.delimiterReplacement.empty()) {
    for (std::string* value : fields) {
      ReplaceDelimiter(*value, options.delimiter, options.delimiterReplacement, length);
    }
  }
  std::array<std::string, 4> encoded;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    // Nothing inside is escaped: a reader splits on quoted runs only.
    const bool quote = options.quoteAll ||
                       FindDelimiter(*fields[i], options.delimiter, 0, length) != std::string::npos;
    encoded[i] = quote ? Quoted(*fields[i]) : *fields[i];
  }
  return Join(encoded, options.delimiter);
}

std::string CsvErrorLine(const RunOptions& options) {
  const std::string field = options.quoteAll ? Quoted(kWmiErrorMarker) : kWmiErrorMarker;
  return Join({field, field, field, field}, options.delimiter);
}

}  // namespace kelvarin
