#include "app/site.h"

#include <cstdlib>
#include <string_view>

namespace mf {
namespace {

constexpr const char* kBuiltInSite = "http://www.cilisousuo.com";

Text ReadSiteBase() {
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

}  // namespace mf
