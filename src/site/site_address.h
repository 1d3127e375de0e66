// Site layer: the site in use (its definition and base address) and checks of site addresses.
//
// The site in use may change while workers run (the window's site menu): every reader takes one
// consistent snapshot, and a change counts from the next page a worker starts.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "support/text_types.h"

namespace mf {

struct SiteDefinition;

// The definition in use and the base address its addresses are built on.
struct SiteInUse {
  std::shared_ptr<const SiteDefinition> definition;
  Text base;  // scheme and host (and port, and path), no trailing slash: the first mirror
  // Every mirror's base, in the definition's order (MirrorBases), each moved to the address the
  // user gave when one was given; base is the first.
  std::vector<Text> mirrors;
};

// The site in use: the built-in definition until UseSite; its base is the one given to
// UseSearchSite or UseSite, else the environment variable MAGNET_FINDER_SITE, else the
// definition's first mirror.
SiteInUse CurrentSite();

// The base address of the site in use.
Text SearchSiteBase();

// Makes `definition` the site in use, at `base` when given (an address as ParseSiteAddress gives
// it), else at MAGNET_FINDER_SITE when that is set, else at its first mirror.
void UseSite(std::shared_ptr<const SiteDefinition> definition, std::optional<Text> base = {});

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

// Makes `base` (as ParseSiteAddress gives it) the base address of the site in use.
void UseSearchSite(const Text& base);

// The base that the environment asks for, checked; empty text when MAGNET_FINDER_SITE is unset
// or empty.
std::variant<Text, std::string> SiteFromEnvironment();

}  // namespace mf
