#include "cli/cli_output.h"

#include <cstdio>

#include "platform/printable_text.h"

namespace mf::cli {

std::string TsvField(std::string_view utf8) {
  return platform::PrintableText(utf8, /*doubleBackslashes=*/true);
}

std::string JsonString(std::string_view utf8) {
  std::string literal = "\"";
  literal.reserve(utf8.size() + 2);
  for (const char c : utf8) {
    if (c == '"' || c == '\\') {
      literal += '\\';
      literal += c;
    } else if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c) & 0xFFu);
      literal += escaped;
    } else {
      literal += c;
    }
  }
  return literal + "\"";
}

std::string EntryTsvHeader() {
  return "number\ttitle\turl\n";
}

std::string EntryTsv(long number, std::string_view title, std::string_view url) {
  return std::to_string(number) + "\t" + TsvField(title) + "\t" + TsvField(url) + "\n";
}

std::string EntryJson(long number, int page, std::string_view title, std::string_view url) {
  return "{\"number\":" + std::to_string(number) + ",\"page\":" + std::to_string(page) +
         ",\"title\":" + JsonString(title) + ",\"url\":" + JsonString(url) + "}\n";
}

std::string LinksJson(const std::vector<std::string>& links) {
  std::string array = "[";
  for (std::size_t i = 0; i < links.size(); ++i) {
    array += (i == 0 ? "" : ",") + JsonString(links[i]);
  }
  return array + "]\n";
}

}  // namespace mf::cli
