// Text conversions for the demo site's GBK pages, through ICU (not the programs' own code, so a
// fault there cannot hide behind the same fault here).
#pragma once

#include <string>
#include <string_view>

namespace mf::demo {

// GBK bytes as UTF-8; bytes that are not GBK become U+FFFD.
std::string FromGbk(std::string_view gbk);
// UTF-8 as GBK; a character GBK lacks becomes a decimal character reference ("&#128512;"), as
// a site in GBK writes it.
std::string ToGbk(std::string_view utf8);

}  // namespace mf::demo
