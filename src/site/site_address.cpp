#include "site/site_address.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "site/site_definition.h"

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

// The base the environment asks for, unchecked; the first mirror when it asks for none.
Text BaseFromEnvironment(const SiteDefinition& definition) {
  const char* configured = std::getenv("MAGNET_FINDER_SITE");
  // Both branches are views: a mixed conditional would make a temporary string, gone at once.
  std::string_view base = configured != nullptr && *configured != '\0'
                              ? std::string_view(configured)
                              : std::string_view(definition.mirrors.front());
  // Addresses are built as base + "/list/...": a slash at the end would double.
  while (base.size() > 1 && base.back() == '/') {
    base.remove_suffix(1);
  }
  return Text(base);
}

SiteState& State() {
  static SiteState* const state = [] {
    auto* fresh = new SiteState;  // workers may outlive main
    fresh->site.definition = std::shared_ptr<const SiteDefinition>(&BuiltInSite(), [](auto*) {});
    fresh->site.base = BaseFromEnvironment(BuiltInSite());
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
  Text chosen = base ? *base : BaseFromEnvironment(*definition);
  const std::lock_guard lock(state.mutex);
  state.site = {std::move(definition), std::move(chosen)};
}

std::string WebAddressProblem(std::string_view address) {
  const std::string quoted = "'" + std::string(address) + "'";
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
  return std::string();
}

std::variant<Text, std::string> ParseSiteAddress(std::string_view address) {
  std::string problem = WebAddressProblem(address);
  if (!problem.empty()) {
    return problem;
  }
  return Text(WithoutTrailingSlashes(address));
}

void UseSearchSite(const Text& base) {
  SiteState& state = State();
  const std::lock_guard lock(state.mutex);
  state.site.base = base;
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
