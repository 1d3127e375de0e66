#include "site/site_address.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <mutex>
#include <optional>

#include <unicode/uidna.h>

#include "platform/printable_text.h"
#include "site/site_definition.h"
#include "site/site_walk.h"

namespace mf {
namespace {

struct SiteState {
  std::mutex mutex;
  SiteInUse site;  // guarded by mutex
};

std::string_view WithoutTrailingSlashes(std::string_view address) {
  while (!address.empty() && address.back() == '/') {
    address.remove_suffix(1);
  }
  return address;
}

bool StartsWithLowerCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char p, char t) {
           return p == (t >= 'A' && t <= 'Z' ? static_cast<char>(t + 32) : t);
         });
}

bool UnfitForAnAddress(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte <= 0x20 || byte == 0x7F || c == '"' || c == '<' || c == '>' || c == '\\';
}

// The address as an error line quotes it: no password, no control character.
std::string Quoted(std::string_view address) {
  return "'" + platform::PrintableText(platform::AddressWithoutPassword(address)) + "'";
}

// Why `hostAndPort` ("name", "name:port", "[v6]" or "[v6]:port") cannot be reached; empty when
// it can.
std::string HostAndPortProblem(std::string_view hostAndPort) {
  std::string_view port;
  if (hostAndPort.front() == '[') {
    const std::size_t close = hostAndPort.find(']');
    if (close == std::string_view::npos) {
      return "the address has an unclosed '['";
    }
    port = hostAndPort.substr(close + 1);
    if (!port.empty() && port.front() != ':') {
      return "the address has text after ']'";
    }
  } else {
    const std::size_t colon = hostAndPort.find(':');
    if (hostAndPort.find_first_of("[]") != std::string_view::npos) {
      return "the address has a '[' or ']' outside an IPv6 host";
    }
    if (colon != std::string_view::npos &&
        hostAndPort.find(':', colon + 1) != std::string_view::npos) {
      return "the address has more than one ':' after its host";
    }
    port = colon == std::string_view::npos ? std::string_view() : hostAndPort.substr(colon);
  }
  if (port.size() > 1) {  // ":" alone means the scheme's port
    int number = 0;
    const auto [end, error] = std::from_chars(port.data() + 1, port.data() + port.size(), number);
    if (error != std::errc() || end != port.data() + port.size() || number < 1 || number > 65535) {
      return "the port is not a number from 1 to 65535";
    }
  }
  return std::string();
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
}

// An international host name as the DNS knows it ("例子.localhost" is "xn--fsqu00a.localhost"),
// by the rules browsers and curl follow (UTS #46, nontransitional); nothing when it is none.
std::optional<std::string> AsciiHostName(std::string_view name) {
  if (IsAscii(name)) {
    return std::string(name);
  }
  UErrorCode status = U_ZERO_ERROR;
  UIDNA* idna = uidna_openUTS46(
      UIDNA_NONTRANSITIONAL_TO_ASCII | UIDNA_CHECK_BIDI | UIDNA_CHECK_CONTEXTJ, &status);
  UIDNAInfo info = UIDNA_INFO_INITIALIZER;
  char ascii[256];
  const int32_t length = uidna_nameToASCII_UTF8(
      idna, name.data(), static_cast<int32_t>(name.size()), ascii, sizeof ascii, &info, &status);
  uidna_close(idna);
  if (U_FAILURE(status) || info.errors != 0 || length <= 0 || length >= int32_t{sizeof ascii}) {
    return std::nullopt;
  }
  return std::string(ascii, static_cast<std::size_t>(length));
}

// Every byte of `text` above ASCII as "%" and two upper-case hex digits: UTF-8, percent-encoded.
std::string PercentEncodedAboveAscii(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      encoded += c;
    } else {
      encoded += {'%', kHex[byte >> 4], kHex[byte & 0xF]};
    }
  }
  return encoded;
}

// The parts of an address that WebAddressProblem has passed: scheme "://" user "@", host name,
// ":" port and the rest.
struct AddressParts {
  std::string_view start, name, rest;
};

AddressParts SplitAddress(std::string_view address) {
  const std::size_t authority = address.find("://") + 3;
  const std::size_t end = std::min(address.find_first_of("/?#", authority), address.size());
  const std::size_t at = address.substr(0, end).rfind('@');
  const std::size_t nameStart = at == std::string_view::npos || at < authority ? authority : at + 1;
  std::size_t nameEnd =
      address[nameStart] == '[' ? address.find(']', nameStart) + 1 : address.find(':', nameStart);
  nameEnd = std::min(nameEnd, end);
  return {address.substr(0, nameStart), address.substr(nameStart, nameEnd - nameStart),
          address.substr(nameEnd)};
}

// The base the environment asks for, unchecked; the first mirror when it asks for none.
// The address MAGNET_FINDER_SITE gives, or the empty text.
Text BaseFromEnvironment() {
  const char* configured = std::getenv("MAGNET_FINDER_SITE");
  std::string_view base = configured != nullptr ? std::string_view(configured) : std::string_view();
  // Addresses are built as base + "/list/...": a slash at the end would double.
  while (base.size() > 1 && base.back() == '/') {
    base.remove_suffix(1);
  }
  return Text(base);
}

// The site at `replacement` (the empty text: at its own mirrors).
SiteInUse SiteAt(std::shared_ptr<const SiteDefinition> definition, const Text& replacement) {
  SiteInUse site;
  site.mirrors = MirrorBases(*definition, replacement);
  site.base = site.mirrors.front();
  site.definition = std::move(definition);
  return site;
}

SiteState& State() {
  static SiteState* const state = [] {
    auto* fresh = new SiteState;  // workers may outlive main
    fresh->site.definition = std::shared_ptr<const SiteDefinition>(&BuiltInSite(), [](auto*) {});
    fresh->site = SiteAt(fresh->site.definition, BaseFromEnvironment());
    return fresh;
  }();
  return *state;
}

}  // namespace

SiteInUse CurrentSite() {
  SiteState& state = State();
  const std::lock_guard lock(state.mutex);
  return state.site;
}

Text SearchSiteBase() {
  return CurrentSite().base;
}

void UseSite(std::shared_ptr<const SiteDefinition> definition, std::optional<Text> base) {
  SiteState& state = State();
  SiteInUse site = SiteAt(std::move(definition), base ? *base : BaseFromEnvironment());
  const std::lock_guard lock(state.mutex);
  state.site = std::move(site);
}

std::string WebAddressProblem(std::string_view address) {
  const std::string quoted = Quoted(address);
  std::string_view rest;
  if (StartsWithLowerCase(address, "http://")) {
    rest = address.substr(7);
  } else if (StartsWithLowerCase(address, "https://")) {
    rest = address.substr(8);
  } else {
    return "not an http:// or https:// address: " + quoted;
  }
  if (std::any_of(address.begin(), address.end(), UnfitForAnAddress)) {
    return "the address holds a space or a control character: " + quoted;
  }
  const std::string_view host = rest.substr(0, rest.find_first_of("/?#"));
  const std::size_t at = host.rfind('@');
  const std::string_view name = at == std::string_view::npos ? host : host.substr(at + 1);
  if (name.empty() || name.front() == ':') {
    return "the address has no host: " + quoted;
  }
  const std::string problem = HostAndPortProblem(name);
  return problem.empty() ? problem : problem + ": " + quoted;
}

std::string SiteAddressProblem(std::string_view address) {
  std::string problem = WebAddressProblem(address);
  if (problem.empty() && !AsciiHostName(SplitAddress(address).name)) {
    problem = "the host is not a valid international domain name: " + Quoted(address);
  }
  if (problem.empty() && address.find('?') != std::string_view::npos) {
    problem = "a site address cannot hold a query ('?'): " + Quoted(address);
  }
  if (problem.empty() && address.find('#') != std::string_view::npos) {
    problem = "a site address cannot hold a fragment ('#'): " + Quoted(address);
  }
  return problem;
}

std::variant<Text, std::string> ParseSiteAddress(std::string_view address) {
  std::string problem = SiteAddressProblem(address);
  if (!problem.empty()) {
    return problem;
  }
  // Requests carry ASCII only: the host as the DNS knows it, the rest percent-encoded as UTF-8.
  const AddressParts parts = SplitAddress(WithoutTrailingSlashes(address));
  return Text(PercentEncodedAboveAscii(parts.start) + *AsciiHostName(parts.name) +
              PercentEncodedAboveAscii(parts.rest));
}

void UseSearchSite(const Text& base) {
  SiteState& state = State();
  const std::lock_guard lock(state.mutex);
  state.site = SiteAt(state.site.definition, base);
}

std::variant<Text, std::string> SiteFromEnvironment() {
  const char* configured = std::getenv("MAGNET_FINDER_SITE");
  if (configured == nullptr || *configured == '\0') {
    return Text();
  }
  auto parsed = ParseSiteAddress(configured);
  if (auto* error = std::get_if<std::string>(&parsed)) {
    return "MAGNET_FINDER_SITE: " + *error;
  }
  return parsed;
}

}  // namespace mf
