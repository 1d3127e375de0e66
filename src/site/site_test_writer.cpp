#include "site/site_test_writer.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>

namespace mf {
namespace {

bool IsBlankOrTopComment(std::string_view line) {
  return line.find_first_not_of(" \t\r\n") == std::string_view::npos || line[0] == '#';
}

// The text's lines, each with its line feed.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::size_t length = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(0, length));
    text.remove_prefix(length);
  }
  return lines;
}

std::string RowLine(const SiteTest::Row& row, bool full) {
  if (!full) {
    return "      - [" + YamlQuoted(row.title) + ", " + YamlQuoted(row.address) + "]\n";
  }
  std::string line = "      - {title: " + YamlQuoted(row.title);
  if (!row.address.empty()) {
    line += ", address: " + YamlQuoted(row.address);
  }
  for (std::size_t f = 0; f < kRowFieldCount; ++f) {
    if (!row.fields[f].empty()) {
      line += std::string(", ") + RowFieldName(static_cast<RowField>(f)) + ": " +
              YamlQuoted(row.fields[f]);
    }
  }
  return line + "}\n";
}

}  // namespace

std::string YamlQuoted(std::string_view utf8) {
  YAML::Emitter emitter;
  emitter << YAML::DoubleQuoted << std::string(utf8);
  return emitter.c_str();
}

std::string TestsBlock(const std::vector<SiteTest>& tests) {
  std::string block = "tests:\n";
  for (const SiteTest& test : tests) {
    if (test.kind == SiteTest::Kind::kAddress) {
      block += "  - keyword: " + YamlQuoted(test.keyword) +
               "\n    page: " + std::to_string(test.page) +
               "\n    address: " + YamlQuoted(test.address) + "\n";
      continue;
    }
    block += "  - saved-page: " + YamlQuoted(test.savedPage) + "\n";
    if (!test.charset.empty()) {
      block += "    charset: " + YamlQuoted(test.charset) + "\n";
    }
    if (test.kind == SiteTest::Kind::kDetailPage) {
      block += test.magnets.empty() ? "    magnets: []\n" : "    magnets:\n";
      for (const std::string& magnet : test.magnets) {
        block += "      - " + YamlQuoted(magnet) + "\n";
      }
      continue;
    }
    block += test.rows.empty() ? "    rows: []\n" : "    rows:\n";
    for (const SiteTest::Row& row : test.rows) {
      block += RowLine(row, test.fullRows);
    }
  }
  return block;
}

EditedDefinition WithTestsBlock(std::string_view definition, std::string_view block) {
  YAML::Node root;
  try {
    root = YAML::Load(std::string(definition));
  } catch (const YAML::Exception& error) {
    return {"", "the definition does not parse: " + error.msg};
  }
  const std::vector<std::string_view> lines = Lines(definition);
  std::size_t start = lines.size();  // the line of the tests key
  std::size_t end = lines.size();    // the line of the key after it
  if (!root.IsNull()) {
    if (!root.IsMap() || root.Style() == YAML::EmitterStyle::Flow) {
      return {"",
              "the definition is not written as 'key: value' lines, so its tests cannot be "
              "written into it"};
    }
    for (const auto& pair : root) {
      const YAML::Mark mark = pair.first.Mark();
      if (mark.column != 0 || mark.line < 0 ||
          static_cast<std::size_t>(mark.line) >= lines.size()) {
        return {"", "the definition's key at line " + std::to_string(mark.line + 1) +
                        " does not start its line, so its tests cannot be written into it"};
      }
      const auto line = static_cast<std::size_t>(mark.line);
      if (pair.first.IsScalar() && pair.first.Scalar() == "tests") {
        start = line;
      }
    }
    for (const auto& pair : root) {
      const auto line = static_cast<std::size_t>(pair.first.Mark().line);
      if (start < lines.size() && line > start) {
        end = std::min(end, line);
      }
    }
  }
  std::string result;
  for (std::size_t i = 0; i < start; ++i) {
    result += lines[i];
  }
  if (start == lines.size()) {
    if (!result.empty() && result.back() != '\n') {
      result += '\n';
    }
    return {result + (result.empty() ? "" : "\n") + std::string(block), ""};
  }
  // Comments and blank lines right above the next key belong to that key.
  std::size_t keep = end;
  if (end < lines.size()) {
    while (keep > start + 1 && IsBlankOrTopComment(lines[keep - 1])) {
      --keep;
    }
  }
  result += block;
  for (std::size_t i = keep; i < lines.size(); ++i) {
    result += lines[i];
  }
  return {result, ""};
}

}  // namespace mf
