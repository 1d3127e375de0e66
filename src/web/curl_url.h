// Web layer, inside: libcurl's URL parser (CURLU) as the layer's files use it. Not for other
// layers: web_address.h gives them what they need of an address. Any thread.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <optional>
#include <string>

namespace mf::web_internal {

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlPtr = std::unique_ptr<CURLU, UrlDeleter>;

// One part of a parsed address; nullopt when the address has none.
inline std::optional<std::string> Part(CURLU* url, CURLUPart part, unsigned int flags = 0) {
  char* value = nullptr;
  if (curl_url_get(url, part, &value, flags) != CURLUE_OK || value == nullptr) {
    return std::nullopt;
  }
  std::string copy(value);
  curl_free(value);
  return copy;
}

}  // namespace mf::web_internal
