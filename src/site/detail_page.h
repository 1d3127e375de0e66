// A detail page of a site: the magnet links on it, as the site's definition says. The functions
// without a definition use the site in use.
//
// The built-in site: a link is group 1 of "[磁力下载|迅雷下载]：<a href=\"(.*?)\">", found
// case-insensitively by RegExpMatcher on characters: one character of the two labels (or the bar),
// the full-width colon, and the link up to the next closing quote and angle bracket on the same
// line.
#pragma once

#include <vector>

#include "support/text_types.h"

namespace mf {

class RegExpMatcher;
struct SiteDefinition;

// The detail address of an entry's link, as the definition's template builds it (the built-in
// site: SearchSiteBase + the link as the result page wrote it).
Text DetailPageAddress(const Text& link);

// Searches `pageText` for magnet links with `matcher` and returns them in page order, as written
// (entities undecoded). A kill of the calling thread ends it between two links
// (platform::ThreadKilled). The matcher keeps the page's matches afterwards. A site other than
// the built-in one has its page and links in UTF-8 (page_fetch.h: SitePageText), matched through
// support/utf8_pattern.h instead.
std::vector<Text> FindMagnetLinks(RegExpMatcher& matcher, const Text& pageText,
                                  const SiteDefinition& site);
std::vector<Text> FindMagnetLinks(RegExpMatcher& matcher, const Text& pageText);

// A link as a desktop handler should get it: the character references that a page writes in an
// attribute (&amp; &lt; &gt; &quot; &#39; and numeric ones below 128) decoded; the rest unchanged.
Text LinkForOpening(const Text& link);

}  // namespace mf
