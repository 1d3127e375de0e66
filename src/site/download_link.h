// Which links from a page may be handed to the desktop's handler for their scheme.
//
// A page is untrusted: behind a label that promises a magnet link it may write file:///...,
// smb://..., http://..., a script's path or a scheme some other program registered, and the
// user's own click would hand it to whatever the desktop runs for it. Only download links go:
// magnet: with an urn: exact topic (xt=urn:btih:...), ed2k:, thunder:, flashget: and qqdl:, the
// scheme in any case; on one line, with no control character and no space, at most 8 KiB.
// The window's "用下载工具打开", `magnet-finder-cli magnets --open` and whatever builds a link
// itself check the link as they would hand it over (decoded, LinkForOpening). Pure; any thread.
#pragma once

#include <cstddef>
#include <string>

#include "support/text_types.h"

namespace mf {

// The longest link handed over, in bytes of UTF-8.
inline constexpr std::size_t kMaxDownloadLinkBytes = 8 * 1024;

// Why `link` may not be handed over, in a few English words; empty when it may.
std::string DownloadLinkRefusal(const Text& link);

inline bool IsDownloadLink(const Text& link) {
  return DownloadLinkRefusal(link).empty();
}

}  // namespace mf
