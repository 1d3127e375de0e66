// The window's control kinds: frames, transparent labels, edit boxes and styled buttons, drawn
// with Qt Widgets to the window's fixed layout. (The list has its own file, list_view.h.)
//
// All of them live on the UI thread; workers reach them through the operations of
// main_window.h.
#pragma once

#include <QColor>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <optional>

#include "support/text_types.h"

class QLineEdit;
class QPlainTextEdit;

namespace mf {

// The face the layout asks for ("微软雅黑") at a character height in pixels, normal weight.
// The face is mapped to the installed CJK font once, on first use.
QFont LayoutFont(int pixelHeight);

// Modifier keys as the handlers receive them: Ctrl = 1, Shift = 2, Alt = 4, added up.
int ModifierKeys(Qt::KeyboardModifiers modifiers);

// Moves the top-level window with the mouse, as a press on a caption bar would: the window
// system's own move when it offers one, otherwise by following the pointer until release.
class WindowDrag {
 public:
  void Press(QWidget* widget, QMouseEvent* event);
  void Move(QWidget* widget, QMouseEvent* event);
  void Release();

 private:
  std::optional<QPoint> grabOffset_;  // pointer position relative to the window's corner
};

// A flat rectangle with a 1-pixel outline, under the other controls; a left press on it drags
// the window.
class ShapeBox : public QWidget {
  Q_OBJECT

 public:
  ShapeBox(QWidget* parent, QColor outline, QColor fill);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QColor outline_;
  QColor fill_;
  WindowDrag drag_;
};

// Black single-line text over whatever lies beneath. Takes mouse presses itself, so a press on a
// label never drags the window.
//
// A caption set with SetCaption is the label's caption at once (Caption, CaptionText,
// captionChanged); it is drawn at once too, unless the label was drawn less than a frame ago:
// then the latest caption is drawn when the frame is over, so that a worker writing a caption
// per page costs at most one repaint per frame. QLabel::text() is what is drawn.
class TransLabel : public QLabel {
  Q_OBJECT

 public:
  static constexpr int kFrameMs = 16;

  TransLabel(QWidget* parent, const QString& caption, int pixelHeight, Qt::Alignment horizontal);

  void SetCaption(const Text& caption);
  Text Caption() const;
  const QString& CaptionText() const { return caption_; }

 Q_SIGNALS:
  // Pointer position in the label, modifier keys as Ctrl = 1, Shift = 2, Alt = 4 added up.
  void leftPressed(int x, int y, int modifierKeys);
  void captionChanged(const QString& caption);

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void EndFrame();

  QString caption_;
  QTimer frame_;         // runs for a frame after each drawing of a caption
  bool behind_ = false;  // the caption changed during the frame and is not drawn yet
};

// A bordered edit control, single- or multi-line. Its text is code page 936 with "\r\n" line
// breaks, as the program expects of an edit control.
class EditBox : public QWidget {
  Q_OBJECT

 public:
  enum class Lines { kSingle, kMulti };
  EditBox(QWidget* parent, Lines lines, Qt::Alignment horizontal, QColor background,
          const QString& text);

  Text GetText() const;
  // The text as UTF-8, every character kept (GetText has only those of code page 936).
  std::string GetUtf8Text() const;
  void SetText(const Text& text);
  // Puts the caret at the end, scrolls it into view and inserts `text` there.
  void Append(const Text& text);
  // The inner editor, which holds the focus and the keyboard input.
  QWidget* Editor() const;

 Q_SIGNALS:
  // After every change of the text, by the user or by the program.
  void textChanged();

 private:
  QLineEdit* line_ = nullptr;
  QPlainTextEdit* lines_ = nullptr;
};

// A flat push button: black caption on (0, 128, 128) in every state, no focus rectangle.
class SuperBtn : public QPushButton {
  Q_OBJECT

 public:
  SuperBtn(QWidget* parent, const QString& caption);
};

}  // namespace mf
