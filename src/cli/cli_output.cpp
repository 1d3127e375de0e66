#include "cli/cli_output.h"

#include <cstdio>
#include <utility>

#include "platform/printable_text.h"

namespace mf::cli {

std::string TsvField(std::string_view utf8) {
  return platform::PrintableText(utf8, /*doubleBackslashes=*/true);
}

namespace {

// The character of the UTF-8 sequence at the start of `utf8` and its length; U+FFFD for one byte
// that starts no character.
std::pair<char32_t, std::size_t> NextCharacter(std::string_view utf8) {
  const auto lead = static_cast<unsigned char>(utf8[0]);
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  if (length == 1 || utf8.size() < length) {
    return {0xFFFD, 1};
  }
  char32_t character = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(utf8[i]);
    if ((next & 0xC0) != 0x80) {
      return {0xFFFD, 1};
    }
    character = (character << 6) | (next & 0x3F);
  }
  return {character, length};
}

void AppendUnitEscape(std::string& literal, unsigned unit) {
  char escaped[16];
  std::snprintf(escaped, sizeof escaped, "\\u%04x", unit);
  literal += escaped;
}

// A character a terminal might act on, or that changes the text around it unseen, as JSON's
// \u escapes (a pair of them beyond U+FFFF): the same string to a reader of JSON.
bool AppendHiddenEscaped(std::string& literal, char32_t character) {
  if (!platform::IsHiddenCharacter(character)) {
    return false;
  }
  if (character > 0xFFFF) {
    AppendUnitEscape(literal, 0xD800 + ((character - 0x10000) >> 10));
    AppendUnitEscape(literal, 0xDC00 + ((character - 0x10000) & 0x3FF));
  } else {
    AppendUnitEscape(literal, character);
  }
  return true;
}

}  // namespace

std::string JsonString(std::string_view utf8) {
  std::string literal = "\"";
  literal.reserve(utf8.size() + 2);
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const char c = utf8[i];
    if (static_cast<unsigned char>(c) >= 0x80) {
      const auto [character, length] = NextCharacter(utf8.substr(i));
      if (character == 0xFFFD && length == 1) {
        AppendUnitEscape(literal, 0xFFFD);  // a byte that is no UTF-8: JSON holds none
      } else if (!AppendHiddenEscaped(literal, character)) {
        literal += utf8.substr(i, length);
      }
      i += length - 1;
    } else if (c == '"' || c == '\\') {
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
