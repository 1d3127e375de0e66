#include "support/text_types.h"

#include <cstring>

namespace mf {

Text::Text(std::string_view bytes) : bytes_(bytes.substr(0, bytes.find('\0'))) {}

Text::Text(const char* bytes) {
  if (bytes != nullptr) {
    bytes_.assign(bytes, std::strlen(bytes));
  }
}

}  // namespace mf
