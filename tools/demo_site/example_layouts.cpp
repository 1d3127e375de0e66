#include "example_layouts.h"

#include <time.h>

#include <algorithm>
#include <array>
#include <ctime>

namespace mf::demo {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kGiB = 1024 * kMiB;

constexpr std::array<const char*, 6> kTags = {"[高清]",     "[中字]",   "【合集】",
                                              "[国英双语]", "【官方】", "[修复版]"};
constexpr std::array<const char*, 8> kWords = {"纪录片", "动画",   "剧集", "音乐",
                                               "全集",   "第一季", "精选", "原声"};
// Some with "/" and quotes, which the JSON answer escapes and the table writes as references.
constexpr std::array<const char*, 8> kFormats = {
    "1080p", "4K/HDR", "\"导演剪辑版\"", "MKV", "蓝光原盘", "2160p/杜比视界", "FLAC", "WEB-DL"};

template <std::size_t N>
const char* Pick(const std::array<const char*, N>& words, std::uint64_t h) {
  return words[h % N];
}

std::string TwoDigits(std::uint64_t n) {
  return (n < 10 ? "0" : "") + std::to_string(n);
}

// The code point of the valid UTF-8 sequence at `at`, and moves `at` past it.
char32_t NextCodePoint(std::string_view s, std::size_t& at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(at);
  const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
  for (int k = 1; k < length; ++k)
    cp = cp << 6 | (byte(at + k) & 0x3F);
  at += length;
  return cp;
}

std::string UnicodeEscape(char32_t unit) {
  return "\\u" + Hex(unit, 4);
}

}  // namespace

ListedTorrent MakeListedTorrent(std::string_view keyword, int index) {
  const std::string key = std::to_string(index) + ":" + std::string(keyword);
  const std::uint64_t h = StableHash(key);
  ListedTorrent t;
  t.name = std::string(Pick(kTags, h)) + " " + Pick(kWords, h >> 8) + PlainKeyword(keyword) + " " +
           Pick(kFormats, h >> 16);
  t.infoHash = Hex(StableHash(key + "#1"), 16) + Hex(StableHash(key + "#2"), 16) +
               Hex(StableHash(key + "#3") >> 32, 8);
  t.sizeBytes = 50 * kMiB + (h >> 4) % (20 * kGiB);
  t.date = "20" + TwoDigits(24 + (h >> 24) % 3) + "-" + TwoDigits(1 + (h >> 28) % 12) + "-" +
           TwoDigits(1 + (h >> 32) % 28);
  t.seeders = static_cast<int>((h >> 40) % 500);
  t.leechers = static_cast<int>((h >> 50) % 100);
  return t;
}

std::string Base32Hash(std::string_view hexHash) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
  std::string out;
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : hexHash) {
    bits = bits << 4 | static_cast<std::uint32_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    count += 4;
    if (count >= 5) {
      count -= 5;
      out += kAlphabet[bits >> count & 31];
    }
  }
  return out;
}

std::string HashAsListed(const ListedTorrent& t, int index) {
  switch (index % 5) {
    case 3: {
      std::string upper = t.infoHash;
      for (char& c : upper)
        c = c >= 'a' ? static_cast<char>(c - 'a' + 'A') : c;
      return upper;
    }
    case 4:
      return Base32Hash(t.infoHash);
    default:
      return t.infoHash;
  }
}

std::string HumanSize(std::uint64_t bytes) {
  if (bytes < kGiB)
    return std::to_string(bytes / kMiB) + " MB";
  const std::uint64_t tenths = (bytes * 10 + kGiB / 2) / kGiB;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " GB";
}

std::string MagnetLink(const ListedTorrent& t) {
  return "magnet:?xt=urn:btih:" + t.infoHash + "&dn=" + EncodeMagnetName(t.name);
}

// As some sites' JSON encoders write strings: "/" escaped, and, when asked, every character
// outside ASCII as \uXXXX (two of them, a surrogate pair, beyond U+FFFF).
std::string JsonString(std::string_view utf8, bool escapeNonAscii) {
  std::string out = "\"";
  for (std::size_t at = 0; at < utf8.size();) {
    const std::size_t start = at;
    const char32_t cp = NextCodePoint(utf8, at);
    if (cp == '"' || cp == '\\' || cp == '/') {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (cp < 0x20) {
      out += UnicodeEscape(cp);
    } else if (escapeNonAscii && cp > 0xFFFF) {
      out += UnicodeEscape(0xD800 + ((cp - 0x10000) >> 10)) +
             UnicodeEscape(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else if (cp >= 0x80 && escapeNonAscii) {
      out += UnicodeEscape(cp);
    } else {
      out.append(utf8.substr(start, at - start));
    }
  }
  return out + "\"";
}

namespace {

// Fills the indexes and torrents of `count` entries from `first`.
ListedPage ListFrom(std::string_view keyword, int first, int count) {
  ListedPage page;
  for (int i = first; i < first + count; ++i) {
    page.indexes.push_back(i);
    page.torrents.push_back(MakeListedTorrent(keyword, i));
  }
  return page;
}

std::string JsonRow(const ListedTorrent& t, int index) {
  return "{\"name\":" + JsonString(t.name, index % 2 == 1) + ",\"info_hash\":\"" +
         HashAsListed(t, index) + "\",\"size\":" + std::to_string(t.sizeBytes) + ",\"added\":\"" +
         t.date + "\",\"seeders\":" + std::to_string(t.seeders) +
         ",\"leechers\":" + std::to_string(t.leechers) + "}";
}

}  // namespace

ListedPage MakeJsonResultPage(std::string_view keyword, int page, int lastPage, int entries) {
  const bool listed = page >= 1 && page <= lastPage;
  ListedPage result = ListFrom(keyword, (page - 1) * entries, listed ? entries : 0);
  std::string& b = result.body;
  b = "{\"status\":\"ok\",\"data\":{\"keyword\":" + JsonString(PlainKeyword(keyword), false) +
      ",\"page\":" + std::to_string(page) + ",\"torrents\":[";
  for (std::size_t i = 0; i < result.torrents.size(); ++i)
    b += (i ? ",\n" : "\n") + JsonRow(result.torrents[i], result.indexes[i]);
  b += "]}}\n";
  return result;
}

namespace {

// "Tue, 01 Sep 2026 12:49:02 +0800", and other spellings feeds use, by the row's index.
std::string FeedDate(const std::string& date, int index) {
  std::tm when{};
  strptime(date.c_str(), "%Y-%m-%d", &when);
  std::tm day = when;
  timegm(&day);  // fills in the day of the week
  static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
  static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::string month = kMonths[static_cast<std::size_t>(day.tm_mon)];
  const std::string year = std::to_string(day.tm_year + 1900);
  const std::string weekday = kDays[static_cast<std::size_t>(day.tm_wday)];
  switch (index % 3) {
    case 0:
      return weekday + ", " + TwoDigits(static_cast<std::uint64_t>(day.tm_mday)) + " " + month +
             " " + year + " 12:49:02 +0800";
    case 1:
      return weekday + "," + std::to_string(day.tm_mday) + " " + month + " " + year +
             " 12:49:02 GMT";
    default:
      return weekday + ", " + TwoDigits(static_cast<std::uint64_t>(day.tm_mday)) + " " + month +
             " " + year + " 12:49:02 -0000";
  }
}

std::string FeedItem(const ListedTorrent& t, int index) {
  std::string size = HumanSize(t.sizeBytes);
  size.insert(size.size() - 1, "i");  // "1.4 GB" as "1.4 GiB"
  const std::string title = index % 2 == 0 ? "<![CDATA[" + t.name + "]]>" : HtmlEscape(t.name);
  return "<item>\n<title>" + title + "</title>\n<guid isPermaLink=\"false\">" + t.infoHash +
         "</guid>\n<pubDate>" + FeedDate(t.date, index) + "</pubDate>\n<enclosure url=\"" +
         HtmlEscape(MagnetLink(t)) +
         "\" length=\"1\" type=\"application/x-bittorrent\"/>\n<demo:size>" + size +
         "</demo:size>\n<demo:seeders>" + std::to_string(t.seeders) +
         "</demo:seeders>\n<demo:leechers>" + std::to_string(t.leechers) +
         "</demo:leechers>\n</item>\n";
}

}  // namespace

ListedPage MakeFeedResultPage(std::string_view keyword, int start, int count) {
  const int listed = std::clamp(kFeedTorrents - start, 0, std::max(count, 0));
  ListedPage result = ListFrom(keyword, start, listed);
  const std::string plain = HtmlEscape(PlainKeyword(keyword));
  std::string& b = result.body;
  b = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" "
      "xmlns:demo=\"https://magnet-finder.invalid/demo-feed\">\n<channel>\n<title>磁力订阅：" +
      plain + "</title>\n<description>" + plain + "</description>\n";
  for (std::size_t i = 0; i < result.torrents.size(); ++i)
    b += FeedItem(result.torrents[i], result.indexes[i]);
  b += "</channel>\n</rss>\n";
  return result;
}

namespace {

struct TableLook {
  int offset;        // where page 1 starts in the keyword's list
  const char* path;  // of the result pages
  const char* name;  // the site's name in its head
};

TableLook LookOf(TableSite site) {
  return site == TableSite::kTable ? TableLook{10, "/torrents", "磁力表格"}
                                   : TableLook{5, "/new/torrents", "磁力表格（新址）"};
}

// The title cell: the keyword in bold, references for what HTML must escape.
std::string TitleCell(const ListedTorrent& t, const std::string& keyword) {
  std::string html = HtmlEscape(t.name);
  const std::string escaped = HtmlEscape(keyword);
  if (const std::size_t at = html.find(escaped); !escaped.empty() && at != std::string::npos)
    html.replace(at, escaped.size(), "<b>" + escaped + "</b>");
  return "<td class=\"title\">" + html + "</td>";
}

std::string TableRow(const ListedTorrent& t, const std::string& keyword) {
  return "<tr class=\"row\">" + TitleCell(t, keyword) + "<td><a class=\"magnet\" href=\"" +
         HtmlEscape(MagnetLink(t)) + "\">磁力链接</a></td><td class=\"size\">" +
         HumanSize(t.sizeBytes) + "</td><td class=\"date\">" + t.date + "</td><td class=\"num\">" +
         std::to_string(t.seeders) + "</td><td class=\"num\">" + std::to_string(t.leechers) +
         "</td></tr>\n";
}

}  // namespace

ListedPage MakeTableResultPage(std::string_view keyword, int page, TableSite site, int lastPage,
                               int entries) {
  const TableLook look = LookOf(site);
  if (page > lastPage)
    page = lastPage;
  const bool listed = page >= 1;
  ListedPage result = ListFrom(keyword, (page - 1) * entries + look.offset, listed ? entries : 0);
  const std::string plain = PlainKeyword(keyword);
  const std::string kw = HtmlEscape(plain);
  std::string& b = result.body;
  b = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>" + kw + " - " +
      look.name + " - 第" + std::to_string(page) + "页</title>\n</head>\n<body>\n<h1>" + look.name +
      "</h1>\n<table class=\"torrents\">\n";
  b += "<tr><th>名称</th><th>磁力链接</th><th>大小</th><th>日期</th><th>做种</th><th>下载</th>"
       "</tr>\n";
  for (std::size_t i = 0; i < result.torrents.size(); ++i) {
    b += TableRow(result.torrents[i], plain);
    if (i == 0)  // an advertisement, its link looking like a magnet link, in a row of its own class
      b += "<tr class=\"ad\"><td colspan=\"6\"><a href=\"magnet:?xt=urn:btih:" +
           std::string(40, '0') + "\">推广：极速下载器</a></td></tr>\n";
  }
  b += "</table>\n<div class=\"pages\">";
  for (int p = 1; p <= lastPage; ++p) {
    b += "<a href=\"" + std::string(look.path) + "?q=" + PercentEncodeUtf8(plain) +
         "&amp;p=" + std::to_string(p) + "\">" + std::to_string(p) + "</a> ";
  }
  b += "</div>\n</body>\n</html>\n";
  return result;
}

}  // namespace mf::demo
