#include "site/site_address.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <optional>

#include "platform/printable_text.h"

namespace mf {
namespace {

constexpr const char* kBuiltInSite = "http://www.cilisousuo.com";

std::optional<Text>& ChosenSite() {
  static std::optional<Text> chosen;
  return chosen;
}

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

Text ReadSiteBase() {
  if (ChosenSite()) {
    return *ChosenSite();
  }
  const char* configured = std::getenv("MAGNET_FINDER_SITE");
  std::string_view base = configured != nullptr && *configured != '\0' ? configured : kBuiltInSite;
  // Addresses are built as base + "/list/...": a slash at the end would double.
  while (base.size() > 1 && base.back() == '/') {
    base.remove_suffix(1);
  }
  return Text(base);
}

}  // namespace

const Text& SearchSiteBase() {
  static const Text base = ReadSiteBase();
  return base;
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
  return Text(WithoutTrailingSlashes(address));
}

void UseSearchSite(const Text& base) {
  ChosenSite() = base;
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
