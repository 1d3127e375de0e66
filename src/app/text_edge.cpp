#include "app/text_edge.h"

#include <string_view>

#include "support/encoding.h"

namespace mf {

QString ToQString(const Text& text) {
  const std::u16string units = AnsiToUtf16(text);
  return QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size()));
}

Text FromQString(const QString& string) {
  const auto* units = reinterpret_cast<const char16_t*>(string.utf16());
  return Utf16ToAnsi(std::u16string_view(units, static_cast<std::size_t>(string.size())));
}

QString SiteTextToQString(const Text& text, bool programText) {
  if (programText) {
    return ToQString(text);
  }
  const std::u16string units = Utf8ToUtf16(text);
  return QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size()));
}

}  // namespace mf
