#include "app/font_check.h"

#include <QAbstractButton>
#include <QFontDatabase>
#include <QLabel>
#include <QRawFont>
#include <QWidget>

namespace mf {
namespace {

// Whether the font the toolkit picks for Chinese text in `font` has every character of `text`
// beyond ASCII (ASCII is in any font, and no fallback is needed for it).
bool Covers(const QFont& font, const QString& text) {
  const QRawFont raw = QRawFont::fromFont(font, QFontDatabase::SimplifiedChinese);
  for (const QChar character : text) {
    if (character.unicode() >= 0x80 && !(raw.isValid() && raw.supportsCharacter(character))) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool FontsCoverTexts(const QWidget& window) {
  // Without any font for Chinese the toolkit draws with a stand-in that claims every character
  // and draws boxes: ask the font database first.
  if (QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty() ||
      !Covers(window.font(), window.windowTitle())) {
    return false;
  }
  for (const QLabel* label : window.findChildren<QLabel*>()) {
    if (!Covers(label->font(), label->text())) {
      return false;
    }
  }
  for (const QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
    if (!Covers(button->font(), button->text())) {
      return false;
    }
  }
  return true;
}

QString NoFontText() {
  return QStringLiteral(
      "magnet-finder: no installed font has the Chinese characters of the window's texts, which "
      "show as empty boxes; install the package fonts-wqy-microhei or fonts-noto-cjk\n");
}

}  // namespace mf
