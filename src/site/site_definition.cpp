#include "site/site_definition.h"

#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <variant>

#include "platform/printable_text.h"
#include "platform/regexp_engine.h"
#include "site/json_rows.h"
#include "site/site_address.h"
#include "site/xml_rows.h"
#include "support/encoding.h"
#include "support/pattern.h"

namespace mf {
namespace {

constexpr std::size_t kMaxPatternBytes = 4096;
constexpr std::size_t kMaxMirrors = 16;
constexpr std::size_t kMaxCleanupSteps = 16;
constexpr std::size_t kMaxTests = 256;
constexpr std::size_t kMaxExpected = 10'000;
constexpr std::int32_t kMostPages = 100'000;
constexpr std::int32_t kMostRowsPerPage = 1000;
constexpr std::size_t kMaxTrackers = 32;
constexpr std::size_t kMaxTrackerBytes = 512;
constexpr std::size_t kMaxHeaderValueBytes = 1024;
constexpr int kMostDelaySeconds = 60;
constexpr std::size_t kMaxCheckTextBytes = 200;

// True when `utf8` is well-formed UTF-8 without control characters (C0, DEL, C1).
bool PrintableUtf8(const std::string& utf8) {
  const Bytes units = DecodeToUtf16(Text(utf8));
  if (EncodeFromUtf16(units, 65001).str() != utf8) {
    return false;  // malformed, or cut at a zero byte
  }
  for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
    const unsigned unit = units.data()[i] | (units.data()[i + 1] << 8U);
    if ((unit < 0x20 && unit != 0) || (unit >= 0x7F && unit <= 0x9F)) {
      return false;
    }
  }
  return true;
}

// True when the host of `address` (scheme://[user@]host[:port]...) is this machine's own:
// localhost, a name under .localhost, 127.0.0.0/8 or [::1]. What travels there never leaves it.
bool OnLoopback(std::string_view address) {
  const std::size_t start = address.find("://") + 3;
  std::string_view authority = address.substr(start, address.find_first_of("/?#", start) - start);
  authority.remove_prefix(authority.rfind('@') + 1);  // npos + 1 is 0
  std::string host(authority.substr(
      0, authority.starts_with('[') ? authority.find(']') + 1 : authority.find(':')));
  std::transform(host.begin(), host.end(), host.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  const bool ipv4Loopback = host.starts_with("127.") &&
                            std::all_of(host.begin(), host.end(),
                                        [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
  return host == "localhost" || host.ends_with(".localhost") || host == "[::1]" || ipv4Loopback;
}

// Thrown inside the loader only, to stop at the first error of a part it cannot go on without.
struct Stop {};

constexpr int kMostNesting = 16;  // a definition needs 6 levels; yaml-cpp recurses per level

// Thrown by the shape check below: what is refused, and where.
struct ShapeRefused {
  YAML::Mark mark;
  std::string reason;
};

// A first pass over the parser's events, before any node is built: a definition holds no anchors
// or aliases, which would let a small file stand for a huge one (every alias is a copy once the
// tests are read), and nests no deeper than its keys do. Costs one parse of the text, no more.
class ShapeCheck : public YAML::EventHandler {
 public:
  void OnDocumentStart(const YAML::Mark&) override {}
  void OnDocumentEnd() override {}
  void OnNull(const YAML::Mark& mark, YAML::anchor_t anchor) override { NoAnchor(mark, anchor); }
  void OnAlias(const YAML::Mark& mark, YAML::anchor_t) override {
    throw ShapeRefused{mark,
                       "an alias (*name) is not allowed in a definition: write the value out"};
  }
  void OnScalar(const YAML::Mark& mark, const std::string&, YAML::anchor_t anchor,
                const std::string&) override {
    NoAnchor(mark, anchor);
  }
  void OnSequenceStart(const YAML::Mark& mark, const std::string&, YAML::anchor_t anchor,
                       YAML::EmitterStyle::value) override {
    Deeper(mark, anchor);
  }
  void OnSequenceEnd() override { --depth_; }
  void OnMapStart(const YAML::Mark& mark, const std::string&, YAML::anchor_t anchor,
                  YAML::EmitterStyle::value) override {
    Deeper(mark, anchor);
  }
  void OnMapEnd() override { --depth_; }
  void OnAnchor(const YAML::Mark& mark, const std::string&) override { NoAnchor(mark, 1); }

 private:
  static void NoAnchor(const YAML::Mark& mark, YAML::anchor_t anchor) {
    if (anchor != YAML::NullAnchor) {
      throw ShapeRefused{mark,
                         "an anchor (&name) is not allowed in a definition: write the value out"};
    }
  }
  void Deeper(const YAML::Mark& mark, YAML::anchor_t anchor) {
    NoAnchor(mark, anchor);
    if (++depth_ > kMostNesting) {
      throw ShapeRefused{
          mark, "lists and mappings nested more than " + std::to_string(kMostNesting) + " deep"};
    }
  }
  int depth_ = 0;
};

// The first problem of `yaml`'s shape, as ShapeCheck finds it; none when it has none.
std::optional<ShapeRefused> ShapeProblem(const std::string& yaml) {
  std::istringstream in(yaml);
  YAML::Parser parser(in);
  ShapeCheck check;
  try {
    // The first document alone, which is all the parse proper reads: on some broken input the
    // parser hands out empty documents for ever without moving on.
    parser.HandleNextDocument(check);
  } catch (const ShapeRefused& refused) {
    return refused;
  } catch (const YAML::Exception&) {
    // The parse proper says what is wrong, as it always has.
  }
  return std::nullopt;
}

class Loader {
 public:
  Loader(std::string file, std::string folder)
      : file_(std::move(file)), folder_(std::move(folder)) {
    site_.file = file_;
    site_.folder = folder_;
  }

  LoadedSite Run(std::string_view yaml) {
    try {
      const std::string text(yaml);
      if (const auto refused = ShapeProblem(text)) {
        Problem(refused->mark, refused->reason);
        throw Stop{};
      }
      const YAML::Node root = YAML::Load(text);
      ReadRoot(root);
    } catch (const YAML::Exception& error) {
      Problem(error.mark, error.msg);
    } catch (const Stop&) {
    } catch (const std::exception& error) {  // running out of memory on a huge document
      Problem(YAML::Mark::null_mark(), error.what());
    }
    LoadedSite loaded;
    if (!AnyError()) {
      loaded.definition = std::move(site_);
    }
    loaded.problems = std::move(problems_);
    return loaded;
  }

 private:
  using Keys = std::map<std::string, std::function<void(const YAML::Node&)>>;

  void Problem(const YAML::Mark& mark, std::string message,
               SiteProblem::Severity severity = SiteProblem::Severity::kError) {
    const bool known = !mark.is_null();
    problems_.push_back({severity, file_, known ? mark.line + 1 : 0, known ? mark.column + 1 : 0,
                         std::move(message)});
  }
  [[noreturn]] void Fail(const YAML::Node& node, std::string message) {
    Problem(node.Mark(), std::move(message));
    throw Stop{};
  }
  void Warn(const YAML::Node& node, std::string message) {
    Problem(node.Mark(), std::move(message), SiteProblem::Severity::kWarning);
  }

  // Runs `read`; an error in it is recorded and the reading goes on after it.
  template <typename Read>
  void Attempt(const Read& read) {
    try {
      read();
    } catch (const Stop&) {
    }
  }
  bool AnyError() const {
    return std::any_of(problems_.begin(), problems_.end(), [](const SiteProblem& p) {
      return p.severity == SiteProblem::Severity::kError;
    });
  }

  // Calls the reader of every key of the mapping `node`; an unknown, repeated or missing key is
  // an error. Keys in `optional` may be left out.
  void ReadMap(const YAML::Node& node, const std::string& what, const Keys& readers,
               const std::set<std::string>& optional = {}) {
    if (!node.IsMap()) {
      Fail(node, what + " must be a mapping of keys to values");
    }
    std::set<std::string> seen;
    for (const auto& pair : node) {
      // Each key on its own: an error in one ends the reading of that key alone, so that one
      // run names every problem the keys have.
      Attempt([&] {
        const std::string key = pair.first.IsScalar() ? pair.first.Scalar() : std::string();
        const auto reader = readers.find(key);
        if (reader == readers.end()) {
          Fail(pair.first, "unknown key '" + key + "' in " + what + KnownKeys(readers));
        }
        if (!seen.insert(key).second) {
          Fail(pair.first, "key '" + key + "' given twice in " + what);
        }
        reader->second(pair.second);
      });
    }
    std::string missing;
    for (const auto& [key, reader] : readers) {
      if (!seen.contains(key) && !optional.contains(key)) {
        missing += (missing.empty() ? "'" : ", '") + key + "'";
      }
    }
    if (!missing.empty()) {
      Fail(node, what + " lacks " + missing);
    }
  }
  static std::string KnownKeys(const Keys& readers) {
    std::string known = " (known: ";
    for (const auto& [key, reader] : readers) {
      known += (known.size() > 9 ? ", " : "") + key;
    }
    return known + ")";
  }

  std::string String(const YAML::Node& node, const std::string& key) {
    if (!node.IsScalar()) {
      Fail(node, "'" + key + "' must be a text");
    }
    return node.Scalar();
  }
  std::int32_t Number(const YAML::Node& node, const std::string& key, std::int32_t least,
                      std::int32_t most) {
    const std::string text = String(node, key);
    std::int64_t value = 0;
    std::size_t used = 0;
    try {
      value = std::stoll(text, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used == 0 || used != text.size() || value < least || value > most) {
      Fail(node, "'" + key + "' must be a whole number from " + std::to_string(least) + " to " +
                     std::to_string(most) + ", not '" + text + "'");
    }
    return static_cast<std::int32_t>(value);
  }
  template <typename Value>
  Value Choice(const YAML::Node& node, const std::string& key,
               const std::vector<std::pair<std::string, Value>>& choices) {
    const std::string text = String(node, key);
    std::string names;
    for (const auto& [name, value] : choices) {
      if (name == text) {
        return value;
      }
      names += (names.empty() ? "" : ", ") + name;
    }
    Fail(node, "'" + key + "' must be one of " + names + ", not '" + text + "'");
  }

  void ReadRoot(const YAML::Node& root) {
    if (!root.IsMap()) {
      Fail(root, "a site definition must be a mapping of keys to values");
    }
    // The page format first: it says which keys the entries have.
    if (root["page-format"]) {
      Attempt([&] {
        site_.pageFormat = Choice<PageFormat>(
            root["page-format"], "page-format",
            {{"html", PageFormat::kHtml}, {"json", PageFormat::kJson}, {"xml", PageFormat::kXml}});
      });
    }
    ReadMap(root, "the definition",
            {{"format", [this](const YAML::Node& n) { Number(n, "format", 1, 1); }},
             {"id", [this](const YAML::Node& n) { ReadId(n); }},
             {"name", [this](const YAML::Node& n) { site_.name = String(n, "name"); }},
             {"mirrors", [this](const YAML::Node& n) { ReadMirrors(n); }},
             {"search", [this](const YAML::Node& n) { ReadSearch(n); }},
             {"page-encoding", [this](const YAML::Node& n) { ReadPageEncoding(n); }},
             {"page-format", [](const YAML::Node&) {}},
             {"entries", [this](const YAML::Node& n) { ReadEntriesOfFormat(n); }},
             {"detail", [this](const YAML::Node& n) { ReadDetail(n); }},
             {"trackers", [this](const YAML::Node& n) { ReadTrackers(n); }},
             {"headers", [this](const YAML::Node& n) { ReadHeaders(n); }},
             {"delay", [this](const YAML::Node& n) { ReadDelay(n); }},
             {"tests", [this](const YAML::Node& n) { ReadTests(n); }},
             {"check", [this](const YAML::Node& n) { ReadCheck(n); }}},
            {"page-encoding", "page-format", "detail", "trackers", "headers", "delay", "tests",
             "check"});
    if (!AnyError()) {  // else what is missing may be what failed to read
      CheckRowsLeadToMagnets(root);
    }
  }

  // A row needs a way to its magnets: a link to a detail page (which `detail` then describes), or
  // a magnet or an info-hash of its own.
  void CheckRowsLeadToMagnets(const YAML::Node& root) {
    const bool json = site_.pageFormat != PageFormat::kHtml;  // pointers and paths alike
    const bool own = site_.HasField(RowField::kMagnet) || site_.HasField(RowField::kHash);
    if (site_.HasLink() && site_.detailAddress.empty()) {
      Fail(root, std::string("the entries have a link (") + (json ? "link" : "link-group") +
                     "), so the definition needs 'detail' to say where it leads");
    }
    if (!site_.HasLink() && !site_.detailAddress.empty()) {
      Fail(root["detail"], std::string("'detail' needs the entries' link (") +
                               (json ? "link" : "link-group") + ")");
    }
    if (!site_.HasLink() && !own) {
      Fail(root["entries"],
           std::string("the entries need a link to a detail page or a magnet "
                       "or hash of their own (") +
               (json ? "link, magnet or hash" : "link-group, magnet-group or hash-group") + ")");
    }
  }

  void ReadId(const YAML::Node& node) {
    site_.id = String(node, "id");
    const bool safe = !site_.id.empty() && site_.id.size() <= 64 && site_.id.front() != '.' &&
                      std::all_of(site_.id.begin(), site_.id.end(), [](char c) {
                        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                               c == '_' || c == '.';
                      });
    if (!safe) {
      Fail(node, "'id' must be 1 to 64 of a-z, 0-9, '-', '_' and '.' (not first), not '" +
                     site_.id + "'");
    }
  }

  void ReadMirrors(const YAML::Node& node) {
    if (!node.IsSequence() || node.size() == 0 || node.size() > kMaxMirrors) {
      Fail(node, "'mirrors' must be a list of 1 to " + std::to_string(kMaxMirrors) + " addresses");
    }
    for (const YAML::Node& mirror : node) {
      Attempt([&] { ReadMirror(mirror); });
    }
  }
  void ReadMirror(const YAML::Node& mirror) {
    const std::string address = String(mirror, "mirrors");
    std::string problem = WebAddressProblem(address);
    if (problem.empty() && address.find_first_of("?#") != std::string::npos) {
      problem = "a mirror is a base address, without a query or fragment: '" + address + "'";
    }
    if (!problem.empty()) {
      Fail(mirror, problem);
    }
    const std::variant<Text, std::string> parsed = ParseSiteAddress(address);
    if (const auto* unusable = std::get_if<std::string>(&parsed)) {
      Fail(mirror, *unusable);
    }
    const std::string& base = std::get<Text>(parsed).str();
    if (base.starts_with("http://") && !OnLoopback(base)) {
      Warn(mirror, "plain http: what the site sends can be read and changed on the way");
    }
    site_.mirrors.push_back(base);
  }

  void ReadSearch(const YAML::Node& node) {
    ReadMap(node, "'search'",
            {{"address",
              [this](const YAML::Node& n) {
                site_.searchAddress =
                    Template(n, "address", {"base", "keyword", "page", "offset", "page-size"});
                if (site_.searchAddress.find("{keyword}") == std::string::npos) {
                  Fail(n, "the search address must hold {keyword}");
                }
              }},
             {"keyword-encoding",
              [this](const YAML::Node& n) {
                site_.keywordEncoding = Choice<KeywordEncoding>(
                    n, "keyword-encoding",
                    {{"utf-8", KeywordEncoding::kUtf8}, {"gbk", KeywordEncoding::kGbk}});
              }},
             {"first-page",
              [this](const YAML::Node& n) {
                site_.firstPage = Number(n, "first-page", 0, kMostPages);
              }},
             {"pages",
              [this](const YAML::Node& n) { site_.pages = Number(n, "pages", 1, kMostPages); }},
             {"page-size",
              [this](const YAML::Node& n) {
                site_.pageSize = Number(n, "page-size", 1, kMostRowsPerPage);
              }},
             {"stop-after", [this](const YAML::Node& n) { ReadStopAfter(n); }}},
            {"keyword-encoding", "first-page", "pages", "page-size", "stop-after"});
    if (!AnyError()) {
      CheckOffsetPaging(node);
    }
  }

  // {offset} and {page-size} count in rows of `page-size`, which they need; it needs them.
  void CheckOffsetPaging(const YAML::Node& search) {
    const std::string& address = site_.searchAddress;
    const bool byOffset = address.find("{offset}") != std::string::npos ||
                          address.find("{page-size}") != std::string::npos;
    if (byOffset && site_.pageSize == 0) {
      Fail(search["address"],
           "{offset} and {page-size} in the search address need 'page-size' "
           "in 'search': the rows a page holds");
    }
    if (!byOffset && site_.pageSize > 0) {
      Warn(search["page-size"],
           "'page-size' counts only for {offset} and {page-size}, which the address lacks");
    }
  }

  void ReadStopAfter(const YAML::Node& node) {
    if (!node.IsSequence() || node.size() == 0 || node.size() > 2) {
      Fail(node, "'stop-after' must be a list of no-entries, seen-entries or both");
    }
    for (const YAML::Node& rule : node) {
      const bool seen =
          Choice<bool>(rule, "stop-after", {{"no-entries", false}, {"seen-entries", true}});
      (seen ? site_.stopAfterSeenEntries : site_.stopAfterNoEntries) = true;
    }
  }

  void ReadPageEncoding(const YAML::Node& node) {
    site_.pageEncoding = Choice<PageEncoding>(node, "page-encoding",
                                              {{"utf-8", PageEncoding::kUtf8},
                                               {"gbk", PageEncoding::kGbk},
                                               {"charset", PageEncoding::kFromCharset}});
  }

  // An address template: http(s), or starting with {base}; only the named placeholders.
  std::string Template(const YAML::Node& node, const std::string& key,
                       const std::set<std::string>& placeholders) {
    const std::string text = String(node, key);
    if (text.size() > kMaxPatternBytes ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7F; })) {
      Fail(node, "'" + key +
                     "' must be printable ASCII without spaces (write other characters "
                     "percent-encoded)");
    }
    for (std::size_t open = text.find('{'); open != std::string::npos;
         open = text.find('{', open + 1)) {
      const std::size_t close = text.find('}', open);
      const std::string name =
          text.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
      if (close == std::string::npos || !placeholders.contains(name)) {
        std::string known;
        for (const std::string& placeholder : placeholders) {
          known += (known.empty() ? "{" : ", {") + placeholder + "}";
        }
        Fail(node, "unknown placeholder '{" + name + (close == std::string::npos ? "" : "}") +
                       "' in '" + key + "' (known: " + known + ")");
      }
    }
    // The base ends in its host, port or path: what follows it starts a path or a query (or is
    // the link, which a page writes from "/"), or the address would run into the base's port.
    const std::string afterBase = text.starts_with("{base}") ? text.substr(6) : std::string();
    const bool baseElsewhere = text.find("{base}", 1) != std::string::npos;
    const bool runsIntoBase = !afterBase.empty() && afterBase.front() != '/' &&
                              afterBase.front() != '?' && !afterBase.starts_with("{link}");
    if (baseElsewhere || runsIntoBase) {
      Fail(node, "{base} stands only at the start of '" + key +
                     "', followed by '/', '?' or {link}, not '" + text + "'");
    }
    const std::string probe = text.starts_with("{base}") ? "http://h" + afterBase : text;
    if (!text.starts_with("{base}") && !text.starts_with("{link}") &&
        !WebAddressProblem(probe).empty()) {
      Fail(node, "'" + key + "' must start with {base}, {link} or http(s)://, not '" + text + "'");
    }
    return text;
  }

  // A pattern for the matcher: compiled once here, case folded as the matcher does, with at
  // least `group` groups.
  Text MatcherPattern(const YAML::Node& node, const std::string& key) {
    const Text pattern = PatternText(node, key);
    const auto checked = platform::CheckPattern(AnsiToUtf16(pattern), true);
    if (const auto* problem = std::get_if<platform::PatternProblem>(&checked)) {
      Fail(node, "'" + key + "' does not compile: " + problem->message + " at offset " +
                     std::to_string(problem->offset));
    }
    groups_[key] = std::get<std::size_t>(checked);
    WarnOfBarInClass(node, key, pattern.str());
    return pattern;
  }
  Text PatternText(const YAML::Node& node, const std::string& key) {
    const std::string utf8 = String(node, key);
    if (utf8.empty() || utf8.size() > kMaxPatternBytes) {
      Fail(node, "'" + key + "' must be a pattern of 1 to " + std::to_string(kMaxPatternBytes) +
                     " bytes");
    }
    const Text pattern = Utf8ToGbk(Text(utf8));
    if (GbkToUtf8(pattern).str() != utf8) {
      Fail(node, "'" + key + "' holds a character that GBK cannot write");
    }
    return pattern;
  }
  void WarnOfBarInClass(const YAML::Node& node, const std::string& key, const std::string& text) {
    bool inClass = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\\') {
        ++i;
      } else if (!inClass && text[i] == '[') {
        inClass = true;
        if (i + 1 < text.size() && text[i + 1] == ']') {
          ++i;  // "[]" matches nothing; a "]" right after "[" would start a class elsewhere
          inClass = false;
        }
      } else if (inClass && text[i] == ']') {
        inClass = false;
      } else if (inClass && text[i] == '|') {
        Warn(node, "'|' inside [...] in '" + key +
                       "' is one more character of the class, not an alternation; write "
                       "(?:a|b) for either of two texts, which adds no group");
        return;
      }
    }
  }
  std::int32_t Group(const YAML::Node& node, const std::string& key, const std::string& pattern) {
    const std::int32_t group = Number(node, key, 0, 99);
    if (groups_.contains(pattern) && static_cast<std::size_t>(group) > groups_[pattern]) {
      Fail(node, "'" + key + "' is group " + std::to_string(group) + ", but '" + pattern +
                     "' has " + std::to_string(groups_[pattern]) + " groups");
    }
    return group;
  }

  void ReadEntriesOfFormat(const YAML::Node& node) {
    switch (site_.pageFormat) {
      case PageFormat::kHtml:
        ReadEntries(node);
        return;
      case PageFormat::kJson:
        ReadJsonEntries(node);
        return;
      case PageFormat::kXml:
        ReadXmlEntries(node);
        return;
    }
  }

  // The keys that the entries of every format have, all optional: the title's clean-up, what a
  // bare number counts as a size, and the zone of a date written without one.
  void AddCommonEntryKeys(Keys& readers, std::set<std::string>& optional) {
    readers["title-cleanup"] = [this](const YAML::Node& n) { ReadCleanup(n); };
    readers["size-unit"] = [this](const YAML::Node& n) {
      site_.sizeUnitBytes = Choice<std::int64_t>(
          n, "size-unit",
          {{"B", 1}, {"KiB", 1024}, {"MiB", 1024 * 1024}, {"GiB", 1024 * 1024 * 1024}});
    };
    readers["date-zone"] = [this](const YAML::Node& n) { site_.dateZoneSeconds = DateZone(n); };
    optional.insert({"title-cleanup", "size-unit", "date-zone"});
  }

  // "UTC", or a fixed offset "+08:00" / "-05:30".
  std::int32_t DateZone(const YAML::Node& node) {
    const std::string text = String(node, "date-zone");
    if (text == "UTC") {
      return 0;
    }
    const auto digit = [&](std::size_t i) { return text[i] >= '0' && text[i] <= '9'; };
    const bool shaped = text.size() == 6 && (text[0] == '+' || text[0] == '-') && digit(1) &&
                        digit(2) && text[3] == ':' && digit(4) && digit(5);
    const int hours = shaped ? (text[1] - '0') * 10 + (text[2] - '0') : 99;
    const int minutes = shaped ? (text[4] - '0') * 10 + (text[5] - '0') : 99;
    if (hours > 23 || minutes > 59) {
      Fail(node, "'date-zone' must be UTC or an offset from it such as +08:00 or -05:30, not '" +
                     text + "'");
    }
    return (text[0] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
  }

  void ReadEntries(const YAML::Node& node) {
    // The pattern first, so that the groups can be checked against it.
    if (node.IsMap() && node["pattern"]) {
      Attempt([&] { site_.entryPattern = MatcherPattern(node["pattern"], "pattern"); });
    }
    site_.linkGroup = 0;
    Keys readers = {
        {"pattern", [](const YAML::Node&) {}},
        {"link-group",
         [this](const YAML::Node& n) { site_.linkGroup = Group(n, "link-group", "pattern"); }},
        {"title-group",
         [this](const YAML::Node& n) { site_.titleGroup = Group(n, "title-group", "pattern"); }}};
    std::set<std::string> optional = {"link-group", "title-group"};
    AddCommonEntryKeys(readers, optional);
    for (std::size_t i = 0; i < kRowFieldCount; ++i) {
      const std::string key = std::string(RowFieldName(static_cast<RowField>(i))) + "-group";
      readers[key] = [this, i, key](const YAML::Node& n) {
        site_.fieldGroups[i] = Group(n, key, "pattern");
        if (site_.fieldGroups[i] == 0) {
          Fail(n, "'" + key + "' must be a group from 1, as group 0 is the whole entry");
        }
      };
      optional.insert(key);
    }
    ReadMap(node, "'entries'", readers, optional);
  }

  void ReadJsonEntries(const YAML::Node& node) {
    Keys readers = {
        {"rows", [this](const YAML::Node& n) { site_.rowsPointer = Pointer(n, "rows"); }},
        {"title", [this](const YAML::Node& n) { site_.titlePointer = Pointer(n, "title"); }},
        {"link", [this](const YAML::Node& n) { site_.linkPointer = Pointer(n, "link"); }},
        {"last-page",
         [this](const YAML::Node& n) { site_.lastPagePointer = Pointer(n, "last-page"); }}};
    std::set<std::string> optional = {"link", "last-page"};
    for (std::size_t i = 0; i < kRowFieldCount; ++i) {
      const std::string key = RowFieldName(static_cast<RowField>(i));
      readers[key] = [this, i, key](const YAML::Node& n) {
        site_.fieldPointers[i] = Pointer(n, key);
      };
      optional.insert(key);
    }
    AddCommonEntryKeys(readers, optional);
    ReadMap(node, "'entries' of a JSON site", readers, optional);
  }

  // A JSON Pointer; inside a row (every key but 'rows') it names a member, not the row itself.
  std::string Pointer(const YAML::Node& node, const std::string& key) {
    const std::string pointer = String(node, key);
    std::string problem = pointer.size() > kMaxPatternBytes ? "'" + key + "' is too long"
                                                            : JsonPointerProblem(pointer);
    if (problem.empty() && pointer.empty() && key == "last-page") {
      problem = "'last-page' must point to a value in the answer, as '/complete' does";
    } else if (problem.empty() && pointer.empty() && key != "rows") {
      problem = "'" + key + "' must point inside a row, as '/name' does";
    }
    if (!problem.empty()) {
      Fail(node, problem);
    }
    return pointer;
  }

  void ReadXmlEntries(const YAML::Node& node) {
    Keys readers = {
        {"rows", [this](const YAML::Node& n) { site_.rowsPointer = XmlPath(n, "rows", true); }},
        {"title", [this](const YAML::Node& n) { site_.titlePointer = XmlPath(n, "title", false); }},
        {"link", [this](const YAML::Node& n) { site_.linkPointer = XmlPath(n, "link", false); }}};
    std::set<std::string> optional = {"link"};
    for (std::size_t i = 0; i < kRowFieldCount; ++i) {
      const std::string key = RowFieldName(static_cast<RowField>(i));
      readers[key] = [this, i, key](const YAML::Node& n) {
        site_.fieldPointers[i] = XmlPath(n, key, false);
      };
      optional.insert(key);
    }
    AddCommonEntryKeys(readers, optional);
    ReadMap(node, "'entries' of an XML site", readers, optional);
  }

  // A path of element names: from the root for the rows, else inside a row.
  std::string XmlPath(const YAML::Node& node, const std::string& key, bool fromRoot) {
    const std::string path = String(node, key);
    const std::string problem = path.size() > kMaxPatternBytes ? "'" + key + "' is too long"
                                                               : XmlPathProblem(path, fromRoot);
    if (!problem.empty()) {
      Fail(node, "'" + key + "': " + problem);
    }
    return path;
  }

  void ReadTrackers(const YAML::Node& node) {
    if (!node.IsSequence() || node.size() > kMaxTrackers) {
      Fail(node, "'trackers' must be a list of at most " + std::to_string(kMaxTrackers) +
                     " announce addresses");
    }
    for (const YAML::Node& tracker : node) {
      const std::string address = String(tracker, "trackers");
      const auto startsWith = [&](std::string_view scheme) {
        return address.size() > scheme.size() &&
               std::equal(scheme.begin(), scheme.end(), address.begin(),
                          [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? b + 32 : b); });
      };
      const bool printable =
          std::all_of(address.begin(), address.end(), [](char c) { return c > ' ' && c < 0x7F; });
      if (!printable || address.size() > kMaxTrackerBytes ||
          !(startsWith("http://") || startsWith("https://") || startsWith("udp://"))) {
        Fail(tracker, "a tracker is an http://, https:// or udp:// address of at most " +
                          std::to_string(kMaxTrackerBytes) + " printable ASCII characters, not '" +
                          address + "'");
      }
      site_.trackers.push_back(address);
    }
  }

  void ReadHeaders(const YAML::Node& node) {
    static const std::vector<std::string> kAllowed = {"Accept", "Accept-Language", "Referer",
                                                      "User-Agent"};
    if (!node.IsMap()) {
      Fail(node, "'headers' must be a mapping of header names to values");
    }
    for (const auto& pair : node) {
      const std::string name = pair.first.IsScalar() ? pair.first.Scalar() : std::string();
      const auto allowed = std::find_if(kAllowed.begin(), kAllowed.end(), [&](const auto& known) {
        return std::equal(known.begin(), known.end(), name.begin(), name.end(),
                          [](char a, char b) { return Lower(a) == Lower(b); });
      });
      if (allowed == kAllowed.end()) {
        Fail(pair.first, "'" + name +
                             "' is not a header a site may ask for (allowed: Accept, "
                             "Accept-Language, Referer, User-Agent)");
      }
      const auto given = [&](const auto& header) { return header.first == *allowed; };
      if (std::any_of(site_.requestHeaders.begin(), site_.requestHeaders.end(), given)) {
        Fail(pair.first, "header '" + *allowed + "' given twice in 'headers'");
      }
      const std::string value = String(pair.second, name);
      const bool printable =
          std::all_of(value.begin(), value.end(), [](char c) { return c >= ' ' && c < 0x7F; });
      if (value.empty() || value.size() > kMaxHeaderValueBytes || !printable) {
        Fail(pair.second, "the value of '" + name + "' must be 1 to " +
                              std::to_string(kMaxHeaderValueBytes) + " printable ASCII characters");
      }
      site_.requestHeaders.emplace_back(*allowed, value);
    }
  }

  // Seconds from 0 to 60, a fraction allowed; kept in milliseconds.
  void ReadDelay(const YAML::Node& node) {
    const std::string text = String(node, "delay");
    double seconds = -1;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), seconds, std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + text.size() || !(seconds >= 0) ||
        seconds > kMostDelaySeconds) {
      Fail(node, "'delay' must be a number of seconds from 0 to " +
                     std::to_string(kMostDelaySeconds) + ", not '" + text + "'");
    }
    site_.delay = std::chrono::milliseconds(std::llround(seconds * 1000));
  }

  static char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

  void ReadCleanup(const YAML::Node& node) {
    if (!node.IsSequence() || node.size() > kMaxCleanupSteps) {
      Fail(node, "'title-cleanup' must be a list of at most " + std::to_string(kMaxCleanupSteps) +
                     " steps");
    }
    for (const YAML::Node& step : node) {
      Attempt([&] { site_.titleCleanup.push_back(CleanupStepOf(step)); });
    }
  }
  CleanupStep CleanupStepOf(const YAML::Node& step) {
    static const std::vector<std::pair<std::string, CleanupStep::Kind>> kPlain = {
        {"decode-references", CleanupStep::Kind::kDecodeReferences},
        {"collapse-space", CleanupStep::Kind::kCollapseSpace},
        {"trim", CleanupStep::Kind::kTrim}};
    if (step.IsMap() && step.size() == 1 && step["remove"]) {
      const Text pattern = PatternText(step["remove"], "remove");
      if (const auto problem = regex::Problem(pattern)) {
        Fail(step["remove"], "'remove' does not compile: " + problem->first + " at offset " +
                                 std::to_string(problem->second));
      }
      // Every site but the built-in one removes through the matcher's engine.
      const auto checked = platform::CheckPattern(AnsiToUtf16(pattern), false);
      if (const auto* problem = std::get_if<platform::PatternProblem>(&checked)) {
        Fail(step["remove"], "'remove' does not compile: " + problem->message + " at offset " +
                                 std::to_string(problem->offset));
      }
      WarnOfBarInClass(step["remove"], "remove", pattern.str());
      return {CleanupStep::Kind::kRemove, pattern};
    }
    if (step.IsScalar()) {
      return {Choice(step, "title-cleanup", kPlain), Text()};
    }
    Fail(step, "a clean-up step is 'remove: PATTERN', decode-references, collapse-space or trim");
  }

  void ReadDetail(const YAML::Node& node) {
    if (node.IsMap() && node["magnet-pattern"]) {
      Attempt(
          [&] { site_.magnetPattern = MatcherPattern(node["magnet-pattern"], "magnet-pattern"); });
    }
    ReadMap(node, "'detail'",
            {{"address",
              [this](const YAML::Node& n) {
                site_.detailAddress = Template(n, "address", {"base", "link"});
              }},
             {"magnet-pattern", [](const YAML::Node&) {}},
             {"magnet-group",
              [this](const YAML::Node& n) {
                site_.magnetGroup = Group(n, "magnet-group", "magnet-pattern");
              }}},
            {"magnet-group"});
  }

  void ReadCheck(const YAML::Node& node) {
    ReadMap(node, "'check'",
            {{"keyword",
              [this](const YAML::Node& n) {
                site_.checkKeyword = CheckText(n, "keyword");
                if (GbkToUtf8(Utf8ToGbk(Text(site_.checkKeyword))).str() != site_.checkKeyword) {
                  Fail(n, "'keyword' holds a character that GBK cannot write");
                }
              }},
             {"page-text",
              [this](const YAML::Node& n) { site_.checkPageText = CheckText(n, "page-text"); }}},
            {"page-text"});
  }
  // A word or text of `check`: printable UTF-8 on one line, 1 to kMaxCheckTextBytes bytes.
  std::string CheckText(const YAML::Node& node, const std::string& key) {
    const std::string text = String(node, key);
    if (text.empty() || text.size() > kMaxCheckTextBytes || !PrintableUtf8(text)) {
      Fail(node, "'" + key + "' must be 1 to " + std::to_string(kMaxCheckTextBytes) +
                     " bytes of printable UTF-8 text, not '" + platform::PrintableText(text) + "'");
    }
    return text;
  }

  void ReadTests(const YAML::Node& node) {
    if (!node.IsSequence() || node.size() > kMaxTests) {
      Fail(node, "'tests' must be a list of at most " + std::to_string(kMaxTests) + " tests");
    }
    for (const YAML::Node& test : node) {
      Attempt([&] { site_.tests.push_back(TestOf(test)); });
    }
  }
  SiteTest TestOf(const YAML::Node& node) {
    SiteTest test;
    test.line = node.Mark().line + 1;
    test.column = node.Mark().column + 1;
    const bool isAddress = node.IsMap() && node["keyword"];
    const bool isDetail = node.IsMap() && node["magnets"];
    test.kind = isAddress  ? SiteTest::Kind::kAddress
                : isDetail ? SiteTest::Kind::kDetailPage
                           : SiteTest::Kind::kResultPage;
    if (isAddress) {
      ReadMap(node, "an address test",
              {{"keyword", [&](const YAML::Node& n) { test.keyword = String(n, "keyword"); }},
               {"page", [&](const YAML::Node& n) { test.page = Number(n, "page", 0, kMostPages); }},
               {"address", [&](const YAML::Node& n) { test.address = String(n, "address"); }}});
      return test;
    }
    ReadMap(node, isDetail ? "a detail-page test" : "a result-page test",
            {{"saved-page", [&](const YAML::Node& n) { test.savedPage = SavedPage(n); }},
             {"charset", [&](const YAML::Node& n) { test.charset = String(n, "charset"); }},
             {isDetail ? "magnets" : "rows",
              [&](const YAML::Node& n) { isDetail ? ReadMagnets(n, test) : ReadRows(n, test); }}},
            {"charset"});
    return test;
  }
  // A saved page's path: relative, inside the definition's folder.
  std::string SavedPage(const YAML::Node& node) {
    const std::string path = String(node, "saved-page");
    std::istringstream parts(path);
    bool escapes = path.empty() || path.front() == '/';
    for (std::string part; std::getline(parts, part, '/');) {
      escapes = escapes || part == "..";
    }
    if (escapes) {
      Fail(node, "'saved-page' must be a path inside the definition's folder, not '" + path + "'");
    }
    return path;
  }
  void ReadRows(const YAML::Node& node, SiteTest& test) {
    if (!node.IsSequence() || node.size() > kMaxExpected) {
      Fail(node, "'rows' must be a list of [title, address] pairs or of mappings");
    }
    for (const YAML::Node& row : node) {
      Attempt([&] { test.rows.push_back(RowOf(row, test)); });
    }
  }
  // [title, address], or a mapping of the fields that the row has.
  SiteTest::Row RowOf(const YAML::Node& node, SiteTest& test) {
    SiteTest::Row row;
    if (node.IsSequence() && node.size() == 2) {
      row.title = String(node[0], "rows");
      row.address = String(node[1], "rows");
      return row;
    }
    if (!node.IsMap()) {
      Fail(node, "a row must be [title, address] or a mapping of its fields");
    }
    test.fullRows = true;
    Keys readers = {{"title", [&](const YAML::Node& n) { row.title = String(n, "title"); }},
                    {"address", [&](const YAML::Node& n) { row.address = String(n, "address"); }}};
    std::set<std::string> optional = {"address"};
    for (std::size_t i = 0; i < kRowFieldCount; ++i) {
      const std::string key = RowFieldName(static_cast<RowField>(i));
      readers[key] = [&row, i, key, this](const YAML::Node& n) { row.fields[i] = String(n, key); };
      optional.insert(key);
    }
    ReadMap(node, "a row", readers, optional);
    return row;
  }
  void ReadMagnets(const YAML::Node& node, SiteTest& test) {
    if (!node.IsSequence() || node.size() > kMaxExpected) {
      Fail(node, "'magnets' must be a list of links");
    }
    for (const YAML::Node& link : node) {
      test.magnets.push_back(String(link, "magnets"));
    }
  }

  std::string file_;
  std::string folder_;
  SiteDefinition site_;
  std::vector<SiteProblem> problems_;
  std::map<std::string, std::size_t> groups_;  // of each pattern read so far
};

}  // namespace

const char* RowFieldName(RowField field) {
  static constexpr const char* kNames[kRowFieldCount] = {"magnet", "hash",    "size",
                                                         "date",   "seeders", "leechers"};
  return kNames[static_cast<std::size_t>(field)];
}

bool SiteDefinition::HasLink() const {
  return pageFormat == PageFormat::kHtml ? linkGroup > 0 : !linkPointer.empty();
}

bool SiteDefinition::HasField(RowField field) const {
  const auto i = static_cast<std::size_t>(field);
  return pageFormat == PageFormat::kHtml ? fieldGroups[i] > 0 : !fieldPointers[i].empty();
}

bool SiteDefinition::OnePage() const {
  return searchAddress.find("{page}") == std::string::npos &&
         searchAddress.find("{offset}") == std::string::npos;
}

std::int32_t SiteDefinition::PagesToWalk(std::int32_t asked) const {
  return OnePage() ? 1 : asked > 0 ? asked : pages;
}

std::string FirstError(const std::vector<SiteProblem>& problems) {
  for (const SiteProblem& problem : problems) {
    if (problem.severity == SiteProblem::Severity::kError) {
      return problem.ToString();
    }
  }
  return std::string();
}

std::string SiteProblem::ToString() const {
  std::string place = file;
  if (line > 0) {
    place += ":" + std::to_string(line) + ":" + std::to_string(column);
  }
  return platform::PrintableText(
      place + (severity == Severity::kError ? ": error: " : ": warning: ") + message);
}

LoadedSite ParseSiteDefinition(std::string_view yaml, const std::string& file,
                               const std::string& folder) {
  if (yaml.size() > kMaxDefinitionBytes) {
    LoadedSite tooLarge;
    tooLarge.problems.push_back({SiteProblem::Severity::kError, file, 0, 0,
                                 "larger than " + std::to_string(kMaxDefinitionBytes) + " bytes"});
    return tooLarge;
  }
  return Loader(file, folder).Run(yaml);
}

LoadedSite LoadSiteFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text;
  // Read in small pieces up to one byte past the cap: a definition is a few KiB, and filling a
  // buffer of the cap's size would cost more than the parse.
  char piece[16 * 1024];
  while (in && text.size() <= kMaxDefinitionBytes) {
    in.read(piece, sizeof piece);
    text.append(piece, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad() || (!in && !in.eof())) {
    LoadedSite unreadable;
    unreadable.problems.push_back({SiteProblem::Severity::kError, path, 0, 0, "cannot be read"});
    return unreadable;
  }
  const std::size_t slash = path.rfind('/');
  return ParseSiteDefinition(text, path, slash == std::string::npos ? "." : path.substr(0, slash));
}

}  // namespace mf
