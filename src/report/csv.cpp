#include "report/csv.h"

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

bool Contains(std::string_view text, std::string_view part) {
  return !part.empty() && text.find(part) != std::string_view::npos;
}

void ReplaceTaboo(std::string& value, std::string_view replacement) {
  std::string result;
  for (const char c : value) {
    if (IsTaboo(c)) {
      result += replacement;
    } else {
      result += c;
    }
  }
  value = std::move(result);
}

// An empty delimiter would match everywhere; there is nothing to replace then.
void ReplaceDelimiter(std::string& value, std::string_view delimiter,
                      std::string_view replacement) {
  if (delimiter.empty()) return;
  for (auto at = value.find(delimiter); at != std::string::npos;
       at = value.find(delimiter, at + replacement.size())) {
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

std::string EncodeCsvLine(InventoryRecord values, const RunOptions& options) {
  const auto fields = Fields(values);
  // Each step runs over all four values before the next one starts.
  for (std::string* value : fields) {
    if (value->empty()) *value = kNotFoundMarker;
  }
  if (!options.tabooReplacement.empty()) {
    for (std::string* value : fields) ReplaceTaboo(*value, options.tabooReplacement);
  }
  if (!options.delimiterReplacement.empty()) {
    for (std::string* value : fields) {
      ReplaceDelimiter(*value, options.delimiter, options.delimiterReplacement);
    }
  }
  std::array<std::string, 4> encoded;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    // Nothing inside is escaped: a reader splits on quoted runs only.
    const bool quote = options.quoteAll || Contains(*fields[i], options.delimiter);
    encoded[i] = quote ? Quoted(*fields[i]) : *fields[i];
  }
  return Join(encoded, options.delimiter);
}

std::string CsvErrorLine(const RunOptions& options) {
  const std::string field = options.quoteAll ? Quoted(kWmiErrorMarker) : kWmiErrorMarker;
  return Join({field, field, field, field}, options.delimiter);
}

}  // namespace kelvarin
