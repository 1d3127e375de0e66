// The search site's base address: scheme and host, no trailing slash.
#pragma once

#include "support/text_types.h"

namespace mf {

// The built-in site, unless the environment variable MAGNET_FINDER_SITE names another (the demo
// site and the tests use it). Read once, on first use.
const Text& SearchSiteBase();

}  // namespace mf
