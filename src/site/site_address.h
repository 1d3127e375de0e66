// The search site's base address: scheme and host (and port), no trailing slash.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "support/text_types.h"

namespace mf {

// The site in use: the one given to UseSearchSite, else the environment variable
// MAGNET_FINDER_SITE, else the built-in site. Settled on first use.
const Text& SearchSiteBase();

// An address the user gave for the site (UTF-8), checked with SiteAddressProblem, as requests
// carry it: an international host name in its ASCII form ("xn--..."), any other character above
// ASCII percent-encoded as UTF-8, trailing slashes dropped. The error names the bad value.
std::variant<Text, std::string> ParseSiteAddress(std::string_view address);

// Why `address` cannot be a request address (not http:// or https://, no host, a space or a
// control character, a port outside 1 to 65535, an unclosed "[", a second ":"), naming it; empty
// when it can. A password in it is named "***".
std::string WebAddressProblem(std::string_view address);
// Why `address` cannot be the site's base address: what WebAddressProblem refuses, and a query
// or a fragment, which the result pages' paths would be appended to, and a host that is no valid
// international domain name. Empty when it can.
std::string SiteAddressProblem(std::string_view address);

// Makes `base` (as ParseSiteAddress gives it) the site for the rest of the run. Call it before
// any thread uses SearchSiteBase.
void UseSearchSite(const Text& base);

// The base that the environment asks for, checked; empty text when MAGNET_FINDER_SITE is unset
// or empty.
std::variant<Text, std::string> SiteFromEnvironment();

}  // namespace mf
