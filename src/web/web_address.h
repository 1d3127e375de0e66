// Web layer: addresses read as libcurl reads them, for comparing where a redirect leads with
// where a site is. Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mf {

// The parts of an absolute address that say which server and which part of it: the scheme and
// host in lower case, the port (the scheme's own when none is written) and the path ("/" at
// least), dot segments removed.
struct AddressParts {
  std::string scheme;
  std::string host;
  std::string port;
  std::string path;
};
std::optional<AddressParts> PartsOfAddress(std::string_view address);

// `reference` (a redirect's Location: absolute, "//host/...", "/path", "path", "?query") made
// absolute against `address`, as RFC 3986 resolves it: dot segments removed, the scheme in lower
// case, no fragment (which is never sent). nullopt when either cannot be read as an address.
std::optional<std::string> ResolveReference(std::string_view address, std::string_view reference);

}  // namespace mf
