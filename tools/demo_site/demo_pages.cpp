#include "demo_pages.h"

#include <algorithm>
#include <array>
#include <functional>

#include "gbk_text.h"

namespace mf::demo {
namespace {

constexpr std::size_t kLongBytes = 2 * 1024 * 1024;

// splitmix64's finaliser: spreads every input bit over the whole word.
constexpr std::uint64_t Mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

template <std::size_t N>
const char* Pick(const std::array<const char*, N>& words, std::uint64_t h) {
  return words[h % N];
}

constexpr std::array<const char*, 8> kTags = {"[高清]", "[中字]", "【合集】",   "[蓝光]",
                                              "[国语]", "[双语]", "【完整版】", "[无损]"};
constexpr std::array<const char*, 12> kWords = {"电影", "纪录片", "动画",   "剧集", "音乐", "教程",
                                                "全集", "第一季", "第二季", "精选", "特辑", "原声"};
constexpr std::array<const char*, 8> kFormats = {"1080p", "720p", "4K",   "HDR",
                                                 "MKV",   "MP4",  "FLAC", "蓝光原盘"};

std::string Size(std::uint64_t h) {
  const std::uint64_t hundredths = h / 9 % 100;
  return std::to_string(1 + h % 9) + (hundredths < 10 ? ".0" : ".") + std::to_string(hundredths) +
         " GB";
}

std::string Date(std::uint64_t h) {
  auto two = [](std::uint64_t n) { return (n < 10 ? "0" : "") + std::to_string(n); };
  return "20" + two(15 + h % 10) + "-" + two(1 + h / 10 % 12) + "-" + two(1 + h / 120 % 28);
}

std::string DisplayKeyword(std::string_view keyword) {
  return HtmlEscape(PlainKeyword(keyword));
}

Entry MakeEntry(const std::string& keywordHtml, std::uint64_t seed, int index) {
  const std::uint64_t h = Mix(seed + index + 1);
  auto title = [&](const std::string& highlighted) {
    std::string t =
        std::string(Pick(kTags, h)) + Pick(kWords, h >> 8) + highlighted + Pick(kWords, h >> 16);
    if ((h >> 32) % 4 == 0)
      t += " " + highlighted;
    return t + " " + Pick(kFormats, h >> 24);
  };
  return Entry{"/detail/" + Hex(Mix(h ^ 0x5a5a), 16) + ".html",
               title("<span class=\"mhl\">" + keywordHtml + "</span>"), title(keywordHtml)};
}

std::string TitleLink(const Entry& e, const char* attribute = "href") {
  return "<a target=\"_blank\" " + std::string(attribute) + "=\"" + e.link + "\">";
}

std::string TitleDiv(const Entry& e, const char* attribute = "href") {
  return "<div class=\"item-title\">" + TitleLink(e, attribute) + e.titleHtml + "</a></div>";
}

std::string Repeat(std::string_view chunk, std::size_t bytes) {
  std::string out;
  out.reserve(bytes + chunk.size());
  while (out.size() < bytes)
    out += chunk;
  return out;
}

// Collects the body and which entries a reader of the body up to its first zero byte can match.
class PageWriter {
 public:
  void Line(std::string_view text) {
    body_ += text;
    body_ += '\n';
  }
  void Found(const Entry& e) {
    if (!cut_)
      findable_.push_back(e);
  }
  void ZeroByte() {
    body_ += '\0';
    cut_ = true;
  }
  ResultPage Finish() { return ResultPage{std::move(body_), std::move(findable_)}; }

 private:
  std::string body_;
  std::vector<Entry> findable_;
  bool cut_ = false;
};

void WriteHead(PageWriter& w, const std::string& kw, int page) {
  w.Line("<!DOCTYPE html>");
  w.Line("<html>");
  w.Line("<head>");
  w.Line("<meta charset=\"utf-8\">");
  w.Line("<title>" + kw + " - 搜索结果 - 第" + std::to_string(page) + "页</title>");
  w.Line("<script>var tpl = '<a href=\"' + url + '\">' + name;</script>");
  w.Line("</head>");
  w.Line("<body>");
  w.Line(
      "<div class=\"header\"><a href=\"/\">磁力搜索</a> <form action=\"/search\">"
      "<input name=\"q\" value=\"" +
      kw + "\"></form></div>");
}

void WriteFoot(PageWriter& w, const std::string& encoded, int page) {
  const std::string base = "/list/" + encoded + "/";
  w.Line("<div class=\"pager\"><span><a href=\"" + base + "1\">首页</a></span> <span><a href=\"" +
         base + std::to_string(page + 1) + "\">下一页</a></span></div>");
  w.Line("</body>");
  w.Line("</html>");
}

// One group of entries: their title line(s), then one meta line each.
void WriteGroup(PageWriter& w, const std::vector<Entry>& entries, int first, int count,
                PageQuirk quirk) {
  std::string line;
  for (int i = first; i < first + count; ++i) {
    const Entry& e = entries[i];
    if (i == 0 && quirk == PageQuirk::kSplitEntry) {
      line += "<div class=\"item-title\">" + TitleLink(e) + "\n" + e.titleHtml + "</a></div>";
      continue;  // link and title on two lines: no match
    }
    line += TitleDiv(e, i == 1 && quirk == PageQuirk::kUpperHref ? "HREF" : "href");
    w.Found(e);
  }
  w.Line("<div class=\"item\">");
  w.Line(line);
  for (int i = first; i < first + count; ++i) {
    const std::uint64_t h = StableHash(entries[i].link);
    std::string meta = "<div class=\"item-meta\"><span>大小：" + Size(h) + "</span> <span>时间：" +
                       Date(h >> 16) + "</span></div>";
    if (i == 3 && quirk == PageQuirk::kInvalidUtf8)
      meta.insert(meta.find("大小"), "\xC0\xAF");
    w.Line(meta);
  }
  w.Line("</div>");
}

void WriteAfterTenth(PageWriter& w, const std::string& kw, PageQuirk quirk) {
  if (quirk == PageQuirk::kZeroByte)
    w.ZeroByte();
  if (quirk == PageQuirk::kLongLine) {
    w.Line(
        "<div class=\"item-title\"><a target=\"_blank\" href=\"/detail/ffffffffffffffff.html\">" +
        Repeat("<b class=\"hl\">" + kw + "</b> 重复 ", kLongBytes));
  }
}

std::vector<Entry> PageEntries(const std::string& kw, std::uint64_t seed, PageQuirk quirk,
                               int count) {
  std::vector<Entry> entries;
  if (quirk == PageQuirk::kHuge)
    count = kEntriesOnHugePage;
  for (int i = 0; i < count; ++i)
    entries.push_back(MakeEntry(kw, seed, i));
  if (quirk == PageQuirk::kInvalidUtf8 && entries.size() > 7) {
    entries[2].titleHtml += "\xFF";
    entries[2].title += "\xFF";
    for (std::string* t : {&entries[7].titleHtml, &entries[7].title})
      t->insert(0, "\xE4\xB8");
  }
  if (quirk == PageQuirk::kLongTitle && !entries.empty()) {
    Entry& last = entries.back();
    last.titleHtml = Repeat("<span class=\"big\">长标题", kLongBytes);
    last.title = last.titleHtml;  // no "</script>" follows, so these spans stay
  }
  return entries;
}

void WriteEntries(PageWriter& w, const std::vector<Entry>& entries, const std::string& kw,
                  std::uint64_t seed, PageQuirk quirk) {
  // Two entries share a line somewhere in 2..8 and three somewhere in 10..17; the split,
  // upper-case and zero-byte places (0, 1, after 9) therefore always stand on their own.
  const int pairAt = 2 + static_cast<int>(seed % 6);
  const int tripleAt = 10 + static_cast<int>((seed >> 8) % 6);
  const int size = static_cast<int>(entries.size());
  for (int i = 0; i < size;) {
    const int count = std::min(i == pairAt ? 2 : i == tripleAt ? 3 : 1, size - i);
    WriteGroup(w, entries, i, count, quirk);
    if (i == 0)
      w.Line("<div class=\"ad\"><a href=\"/ad/1.html\">推广：高速下载器</a> </div>");
    i += count;
    if (i == 10)
      WriteAfterTenth(w, kw, quirk);
  }
}

}  // namespace

std::uint64_t StableHash(std::string_view bytes) {
  std::uint64_t h = 0xcbf29ce484222325ULL;  // FNV-1a
  for (unsigned char c : bytes)
    h = (h ^ c) * 0x100000001b3ULL;
  return Mix(h);
}

std::string PercentEncodeUtf8(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += '%';
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string EncodeMagnetName(std::string_view name) {
  std::string out;
  for (char c : name) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~';
    out += plain ? std::string(1, c) : PercentEncodeUtf8(std::string_view(&c, 1));
  }
  return out;
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string ValidUtf8(std::string_view s) {
  std::string out;
  auto cont = [&](std::size_t i) {
    return i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80;
  };
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = s[i];
    const unsigned char c1 = i + 1 < s.size() ? s[i + 1] : 0;
    int len = 0;
    if (c < 0x80)
      len = 1;
    else if (c >= 0xC2 && c <= 0xDF)
      len = 2;
    else if (c == 0xE0)
      len = c1 >= 0xA0 ? 3 : 0;
    else if (c == 0xED)
      len = c1 < 0xA0 ? 3 : 0;  // no surrogates
    else if (c >= 0xE1 && c <= 0xEF)
      len = 3;
    else if (c == 0xF0)
      len = c1 >= 0x90 ? 4 : 0;
    else if (c >= 0xF1 && c <= 0xF3)
      len = 4;
    else if (c == 0xF4)
      len = c1 < 0x90 ? 4 : 0;
    bool ok = len > 0;
    for (int k = 1; ok && k < len; ++k)
      ok = cont(i + k);
    if (ok) {
      out.append(s.substr(i, len));
      i += len;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

ResultPage MakeResultPage(std::string_view keyword, int page, PageQuirk quirk, int lastPage,
                          int entries) {
  const std::string kw = DisplayKeyword(keyword);
  const std::uint64_t seed = Mix(StableHash(keyword) ^ Mix(static_cast<std::uint64_t>(page)));
  const bool hasResults = page >= 1 && (lastPage <= 0 || page <= lastPage);
  PageWriter w;
  WriteHead(w, kw, page);
  if (hasResults) {
    w.Line("<div class=\"summary\">找到约 " + std::to_string(entries * 100 + seed % 977) +
           " 条与“" + kw + "”相关的结果</div>");
    w.Line("<div class=\"list\">");
    WriteEntries(w, PageEntries(kw, seed, quirk, entries), kw, seed, quirk);
    w.Line("</div>");
  } else {
    w.Line("<div class=\"summary\">没有找到与“" + kw + "”相关的结果</div>");
  }
  WriteFoot(w, PercentEncodeUtf8(keyword), page);
  return w.Finish();
}

namespace {

std::optional<std::uint64_t> ParseId(std::string_view id) {
  if (id.size() != 16)
    return std::nullopt;
  std::uint64_t value = 0;
  for (char c : id) {
    const bool digit = c >= '0' && c <= '9';
    if (!digit && !(c >= 'a' && c <= 'f'))
      return std::nullopt;
    value = value << 4 | static_cast<std::uint64_t>(digit ? c - '0' : c - 'a' + 10);
  }
  return value;
}

// What link number k of a detail page adds to the first: a tracker with a host of its own.
std::string Tracker(int k) {
  if (k == 0)
    return "";
  return "&tr=udp%3A%2F%2Ftracker" + (k == 1 ? std::string() : std::to_string(k)) +
         ".demo.invalid%3A6969%2Fannounce";
}

// What a detail page says about its torrent, the same in both layouts.
struct Torrent {
  std::string name;
  std::string infoHash;
  std::string size;
  std::string date;
  std::string firstLink;  // without trackers; "&" between parameters
  int links = 0;
};

std::optional<Torrent> TorrentOf(std::string_view id, int links) {
  const std::optional<std::uint64_t> v = ParseId(id);
  if (!v)
    return std::nullopt;
  const std::uint64_t h = Mix(*v ^ 5);
  Torrent t;
  t.name = std::string(Pick(kWords, h)) + Pick(kWords, h >> 8) + " " + Pick(kFormats, h >> 16);
  t.infoHash = Hex(Mix(*v ^ 1), 16) + Hex(Mix(*v ^ 2), 16) + Hex(Mix(*v ^ 3) >> 32, 8);
  t.size = Size(h >> 24);
  t.date = Date(h >> 32);
  t.firstLink = "magnet:?xt=urn:btih:" + t.infoHash + "&dn=" + EncodeMagnetName(t.name);
  t.links = links > 0 ? links : Mix(*v ^ 4) % 2 == 0 ? 2 : 1;
  return t;
}

// Link number k of a detail page, with "&" written as `amp`.
std::string MagnetLink(const Torrent& t, int k, const std::string& amp) {
  std::string link = t.firstLink + Tracker(k);
  for (std::size_t at = link.find('&'); at != std::string::npos; at = link.find('&', at + 1))
    link.replace(at, 1, amp);
  return link;
}

}  // namespace

std::optional<DetailPage> MakeDetailPage(std::string_view id, int links) {
  const std::optional<Torrent> t = TorrentOf(id, links);
  if (!t)
    return std::nullopt;
  const std::string& name = t->name;
  DetailPage page;
  for (int k = 0; k < t->links; ++k)
    page.links.push_back(MagnetLink(*t, k, "&amp;"));
  std::string& b = page.body;
  b += "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n";
  b += "<title>" + name + " - 磁力详情</title>\n</head>\n<body>\n";
  b += "<div class=\"header\"><a href=\"/\">磁力搜索</a> <span>首页 &gt; 详情</span></div>\n";
  b += "<h1>" + name + "</h1>\n";
  b += "<div class=\"info\"><p>文件大小：" + t->size + "</p><p>收录时间：" + t->date +
       "</p><p>种子哈希：" + t->infoHash + "</p></div>\n";
  b += "<div class=\"download\">\n";
  for (int k = 0; k < t->links; ++k) {
    b += k % 2 == 0 ? "<p>磁力下载：<a href=\"" + page.links[k] + "\">复制磁力链接</a></p>\n"
                    : "<p>迅雷下载：<a href=\"" + page.links[k] + "\">用迅雷下载</a></p>\n";
  }
  b += "</div>\n";
  // Near misses: a half-width colon, and a label whose last character is not in the class.
  b += "<div class=\"tip\">旧版磁力下载: <a href=\"/help.html\">使用帮助</a></div>\n";
  b += "<div class=\"tip\">下载地址：<a href=\"/mirror.html\">镜像</a></div>\n";
  b += "</body>\n</html>\n";
  return page;
}

// The second layout, a site in GBK: one list item per entry, the link first among its attributes,
// the title with <em> around the keyword, character references and spare white space.
namespace {

Entry MakeListItem(const std::string& keyword, std::uint64_t seed, int index) {
  const std::uint64_t h = Mix(seed + index + 1);
  const std::string tag = Pick(kTags, h);
  const std::string before = Pick(kWords, h >> 8);
  const std::string after = Pick(kWords, h >> 16);
  const std::string format = Pick(kFormats, h >> 24);
  return Entry{"/torrent/" + Hex(Mix(h ^ 0xa5a5), 16) + ".html",
               "  " + tag + "\t" + before + "<em>" + HtmlEscape(keyword) + "</em>&#12289;" + after +
                   " &amp;  &lt;" + format + "&gt; ",
               tag + " " + before + keyword + "、" + after + " & <" + format + ">"};
}

void WriteGbkHead(PageWriter& w, const std::string& title, const std::string& kw) {
  w.Line("<!DOCTYPE html>");
  w.Line("<html>");
  w.Line("<head>");
  w.Line("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">");
  w.Line("<title>" + title + "</title>");
  w.Line("</head>");
  w.Line("<body>");
  w.Line("<form action=\"/search\"><input name=\"q\" value=\"" + kw +
         "\"><input type=\"submit\" value=\"搜种子\"></form>");
}

// The entries, and an advertisement among them whose item is of another class.
void WriteListItems(PageWriter& w, const std::vector<Entry>& entries) {
  w.Line("<ul class=\"results\">");
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    const std::uint64_t h = StableHash(e.link);
    w.Line("<li class=\"res\"><a href=\"" + e.link + "\" class=\"t\" target=\"_blank\">" +
           e.titleHtml + "</a> <span class=\"size\">" + Size(h) + "</span> <span>" + Date(h >> 16) +
           "</span></li>");
    w.Found(e);
    if (i == 0)
      w.Line("<li class=\"ad\"><a href=\"/ad/2.html\" class=\"t\">推广：极速下载</a></li>");
  }
  w.Line("</ul>");
}

}  // namespace

ResultPage MakeGbkResultPage(std::string_view keyword, int page, int lastPage, int entries) {
  const std::string plain = PlainKeyword(keyword);
  const std::string kw = HtmlEscape(plain);
  const std::uint64_t seed = Mix(StableHash(keyword) ^ Mix(static_cast<std::uint64_t>(page) + 7));
  PageWriter w;
  WriteGbkHead(w, kw + "_种子搜索_第" + std::to_string(page) + "页", kw);
  if (page >= 1 && (lastPage <= 0 || page <= lastPage)) {
    std::vector<Entry> items;
    for (int i = 0; i < entries; ++i)
      items.push_back(MakeListItem(plain, seed, i));
    WriteListItems(w, items);
  } else {
    w.Line("<p class=\"none\">没有找到“" + kw + "”的种子</p>");
  }
  w.Line("<div class=\"pages\"><a href=\"/search?q=" + PercentEncodeUtf8(ToGbk(plain)) +
         "&amp;p=" + std::to_string(page + 1) + "\">下一页</a></div>");
  w.Line("</body>");
  w.Line("</html>");
  return w.Finish();
}

std::optional<DetailPage> MakeGbkDetailPage(std::string_view id, int links) {
  const std::optional<Torrent> t = TorrentOf(id, links);
  if (!t)
    return std::nullopt;
  DetailPage page;
  PageWriter w;
  WriteGbkHead(w, t->name + "_种子详情", "");
  w.Line("<h2>" + t->name + "</h2>");
  w.Line("<dl><dt>大小:</dt><dd>" + t->size + "</dd><dt>日期:</dt><dd>" + t->date + "</dd></dl>");
  for (int k = 0; k < t->links; ++k) {
    page.links.push_back(MagnetLink(*t, k, "&"));
    w.Line("<p>磁力链接: <a class=\"magnet\" href=\"" + page.links.back() + "\">" +
           (k == 0 ? "点击下载" : "备用链接") + "</a></p>");
  }
  // Near misses: a full-width colon, and a link of another class.
  w.Line("<p>磁力链接：<a href=\"/help.html\">怎样使用磁力链接</a></p>");
  w.Line("<p>磁力链接: <a class=\"torrent\" href=\"/file/" + std::string(id) +
         ".torrent\">下载种子文件</a></p>");
  w.Line("</body>");
  w.Line("</html>");
  page.body = w.Finish().body;
  return page;
}

std::string Hex(std::uint64_t value, int digits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out(digits, '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4)
    out[i] = kDigits[value & 15];
  return out;
}

std::string PlainKeyword(std::string_view keyword) {
  std::string text = ValidUtf8(keyword);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20)
      c = ' ';
  }
  return text;
}

}  // namespace mf::demo
