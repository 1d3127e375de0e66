// Site layer: the info-hash that names a torrent, and the magnet link built from one.
// Pure functions; any thread may call them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mf {

// `text` as 40 lower-case hex digits when it is an info-hash: 40 hex digits (either case) or 32
// base32 characters (RFC 4648, either case); nothing otherwise.
std::optional<std::string> NormalizedInfoHash(std::string_view text);

// The 20 bytes of a hash that NormalizedInfoHash gives (40 hex digits, either case); nothing for
// any other text.
std::optional<std::array<std::uint8_t, 20>> InfoHashBytes(std::string_view hex);

// The info-hash of a magnet link's first "xt=urn:btih:" parameter (or "xt.1=", "xt.2=", ...; the
// scheme, the names and "urn:btih:" in either case), normalized; nothing when it has none or it
// is no info-hash.
std::optional<std::string> InfoHashOfMagnet(std::string_view magnet);

// "magnet:?xt=urn:btih:HASH&dn=TITLE&tr=TRACKER...": the hash as the site wrote it, the title
// (UTF-8) and each tracker's address percent-encoded; no "&dn=" for an empty title.
std::string MagnetFromHash(std::string_view hash, std::string_view titleUtf8,
                           const std::vector<std::string>& trackers = {});

// An info-hash of nothing but zero bits (as NormalizedInfoHash gives it): what a site writes in a
// row that stands for no torrent ("No results returned").
bool IsZeroInfoHash(std::string_view normalized);

}  // namespace mf
