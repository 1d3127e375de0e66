#include "web/web_address.h"

#include <algorithm>

#include "web/curl_url.h"

namespace mf {
namespace {

using web_internal::Part;
using web_internal::UrlPtr;

// libcurl reads an address only up to its first zero byte.
bool HasZero(std::string_view text) {
  return text.find('\0') != std::string_view::npos;
}

UrlPtr Parsed(std::string_view address) {
  UrlPtr url(curl_url());
  if (!url || HasZero(address) ||
      curl_url_set(url.get(), CURLUPART_URL, std::string(address).c_str(), 0) != CURLUE_OK) {
    return nullptr;
  }
  return url;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  return text;
}

}  // namespace

std::optional<AddressParts> PartsOfAddress(std::string_view address) {
  const UrlPtr url = Parsed(address);
  if (!url) {
    return std::nullopt;
  }
  AddressParts parts{Lower(Part(url.get(), CURLUPART_SCHEME).value_or("")),
                     Lower(Part(url.get(), CURLUPART_HOST).value_or("")),
                     Part(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT).value_or(""),
                     Part(url.get(), CURLUPART_PATH).value_or("/")};
  return parts;
}

std::optional<std::string> ResolveReference(std::string_view address, std::string_view reference) {
  const UrlPtr url = Parsed(address);
  // The fragment stays with the client; libcurl would also resolve a reference of only a
  // fragment against the folder rather than the address itself.
  const std::string_view withoutFragment = reference.substr(0, reference.find('#'));
  if (!url || HasZero(reference) ||
      (!withoutFragment.empty() &&
       curl_url_set(url.get(), CURLUPART_URL, std::string(withoutFragment).c_str(), 0) !=
           CURLUE_OK)) {
    return std::nullopt;
  }
  curl_url_set(url.get(), CURLUPART_FRAGMENT, nullptr, 0);
  return Part(url.get(), CURLUPART_URL);
}

}  // namespace mf
