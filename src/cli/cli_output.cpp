#include "cli/cli_output.h"

#include <cstdio>
#include <utility>

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

std::string WideEntryTsvHeader() {
  return "number\ttitle\turl\tmagnet\thash\tsize\tdate\tseeders\tleechers\tsite\n";
}

std::string WideEntryTsv(const WideEntry& entry) {
  std::string line = std::to_string(entry.number);
  for (const std::string* field :
       {&entry.title, &entry.url, &entry.magnet, &entry.hash, &entry.size, &entry.date,
        &entry.seeders, &entry.leechers, &entry.site}) {
    line += "\t" + TsvField(*field);
  }
  return line + "\n";
}

std::string WideEntryJson(const WideEntry& entry) {
  std::string line =
      "{\"number\":" + std::to_string(entry.number) + ",\"page\":" + std::to_string(entry.page) +
      ",\"site\":" + JsonString(entry.site) + ",\"title\":" + JsonString(entry.title);
  const struct {
    const char* key;
    const std::string* text;
    const std::optional<std::int64_t>* number;  // written instead of the text when known
  } optional[] = {{"url", &entry.url, nullptr},
                  {"magnet", &entry.magnet, nullptr},
                  {"hash", &entry.hash, nullptr},
                  {"size", &entry.size, nullptr},
                  {"size_bytes", nullptr, &entry.sizeBytes},
                  {"date", &entry.date, nullptr},
                  {"seeders", &entry.seeders, &entry.seederCount},
                  {"leechers", &entry.leechers, &entry.leecherCount}};
  for (const auto& [key, text, number] : optional) {
    if (number != nullptr && number->has_value()) {
      line += ",\"" + std::string(key) + "\":" + std::to_string(**number);
    } else if (text != nullptr && !text->empty()) {
      line += ",\"" + std::string(key) + "\":" + JsonString(*text);
    }
  }
  return line + "}\n";
}

std::string SameTorrentJson(long sameAs, int page, std::string_view site, std::string_view url) {
  return "{\"same_as\":" + std::to_string(sameAs) + ",\"page\":" + std::to_string(page) +
         ",\"site\":" + JsonString(site) +
         (url.empty() ? std::string() : ",\"url\":" + JsonString(url)) + "}\n";
}

std::string LinksJson(const std::vector<std::string>& links) {
  std::string array = "[";
  for (std::size_t i = 0; i < links.size(); ++i) {
    array += (i == 0 ? "" : ",") + JsonString(links[i]);
  }
  return array + "]\n";
}

}  // namespace mf::cli
