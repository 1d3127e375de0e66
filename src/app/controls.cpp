#include "app/controls.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QWindow>
#include <limits>

#include "app/text_edge.h"

namespace mf {
namespace {

const QColor kBlack(0, 0, 0);
const QColor kBorder(100, 100, 100);

void RegisterFontSubstitute() {
  static const bool registered = [] {
    QFont::insertSubstitution(QStringLiteral("微软雅黑"), QStringLiteral("WenQuanYi Micro Hei"));
    return true;
  }();
  (void)registered;
}

QString ColourCss(const QColor& colour) {
  return QStringLiteral("rgb(%1, %2, %3)").arg(colour.red()).arg(colour.green()).arg(colour.blue());
}

// A press on a control is the control's own: it must not reach the frame beneath and drag the
// window, not even when the control is disabled.
void KeepMousePresses(QWidget* control) {
  control->setAttribute(Qt::WA_NoMousePropagation);
}

// Multi-line boxes keep lines as paragraphs; the program sees "\r\n" between them.
QString ToEditorLines(const Text& text) {
  QString lines = ToQString(text);
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return lines;
}

Text FromEditorLines(QString lines) {
  lines.replace(QChar(u'\n'), QStringLiteral("\r\n"));
  return FromQString(lines);
}

// The selection is shown only while the box has the focus.
void HideInactiveSelection(QWidget* editor, const QColor& background) {
  QPalette palette = editor->palette();
  palette.setColor(QPalette::Inactive, QPalette::Highlight, background);
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText, kBlack);
  editor->setPalette(palette);
}

}  // namespace

QFont LayoutFont(int pixelHeight) {
  RegisterFontSubstitute();
  QFont font(QStringLiteral("微软雅黑"));
  font.setPixelSize(pixelHeight);
  font.setWeight(QFont::Normal);
  return font;
}

int ModifierKeys(Qt::KeyboardModifiers modifiers) {
  return (modifiers & Qt::ControlModifier ? 1 : 0) | (modifiers & Qt::ShiftModifier ? 2 : 0) |
         (modifiers & Qt::AltModifier ? 4 : 0);
}

void WindowDrag::Press(QWidget* widget, QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    return;
  }
  QWidget* window = widget->window();
  QWindow* handle = window->windowHandle();
  if (handle != nullptr && handle->startSystemMove()) {
    return;
  }
  grabOffset_ = event->globalPosition().toPoint() - window->pos();
}

void WindowDrag::Move(QWidget* widget, QMouseEvent* event) {
  if (grabOffset_ && (event->buttons() & Qt::LeftButton)) {
    widget->window()->move(event->globalPosition().toPoint() - *grabOffset_);
  }
}

void WindowDrag::Release() {
  grabOffset_.reset();
}

ShapeBox::ShapeBox(QWidget* parent, QColor outline, QColor fill)
    : QWidget(parent), outline_(outline), fill_(fill) {}

void ShapeBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), fill_);
  painter.setPen(outline_);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void ShapeBox::mousePressEvent(QMouseEvent* event) {
  drag_.Press(this, event);
}

void ShapeBox::mouseMoveEvent(QMouseEvent* event) {
  drag_.Move(this, event);
}

void ShapeBox::mouseReleaseEvent(QMouseEvent*) {
  drag_.Release();
}

TransLabel::TransLabel(QWidget* parent, const QString& caption, int pixelHeight,
                       Qt::Alignment horizontal)
    : QLabel(caption, parent), caption_(caption) {
  frame_.setSingleShot(true);
  frame_.setInterval(kFrameMs);
  connect(&frame_, &QTimer::timeout, this, &TransLabel::EndFrame);
  setTextFormat(Qt::PlainText);
  setWordWrap(false);
  setAlignment(horizontal | Qt::AlignVCenter);
  setFont(LayoutFont(pixelHeight));
  QPalette palette = this->palette();
  palette.setColor(QPalette::WindowText, kBlack);
  setPalette(palette);
  setAutoFillBackground(false);
  KeepMousePresses(this);
}

void TransLabel::SetCaption(const Text& caption) {
  caption_ = ToQString(caption);
  if (frame_.isActive()) {
    behind_ = true;
  } else {
    setText(caption_);
    frame_.start();
  }
  Q_EMIT captionChanged(caption_);
}

void TransLabel::EndFrame() {
  if (behind_) {
    behind_ = false;
    setText(caption_);
    frame_.start();
  }
}

Text TransLabel::Caption() const {
  return FromQString(caption_);
}

void TransLabel::mousePressEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() == Qt::LeftButton) {
    const QPoint at = event->position().toPoint();
    Q_EMIT leftPressed(at.x(), at.y(), ModifierKeys(event->modifiers()));
  }
}

EditBox::EditBox(QWidget* parent, Lines lines, Qt::Alignment horizontal, QColor background,
                 const QString& text)
    : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  QWidget* editor = nullptr;
  if (lines == Lines::kSingle) {
    line_ = new QLineEdit(text, this);
    line_->setMaxLength(std::numeric_limits<int>::max());  // no length limit
    line_->setAlignment(horizontal | Qt::AlignVCenter);
    connect(line_, &QLineEdit::textChanged, this, &EditBox::textChanged);
    editor = line_;
  } else {
    lines_ = new QPlainTextEdit(text, this);
    lines_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    lines_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    lines_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lines_->setTabChangesFocus(true);
    connect(lines_, &QPlainTextEdit::textChanged, this, &EditBox::textChanged);
    editor = lines_;
  }
  editor->setObjectName(QStringLiteral("editor"));
  editor->setFont(LayoutFont(14));
  editor->setStyleSheet(QStringLiteral("color: black; background-color: %1; border: 1px solid %2;")
                            .arg(ColourCss(background), ColourCss(kBorder)));
  HideInactiveSelection(editor, background);
  layout->addWidget(editor);
  setFocusProxy(editor);
  KeepMousePresses(this);
  KeepMousePresses(editor);
}

Text EditBox::GetText() const {
  return line_ != nullptr ? FromQString(line_->text()) : FromEditorLines(lines_->toPlainText());
}

std::string EditBox::GetUtf8Text() const {
  return (line_ != nullptr ? line_->text() : lines_->toPlainText()).toStdString();
}

void EditBox::SetText(const Text& text) {
  if (line_ != nullptr) {
    line_->setText(ToQString(text));
  } else {
    lines_->setPlainText(ToEditorLines(text));
  }
}

void EditBox::Append(const Text& text) {
  // Appended text leaves no undo step behind; like an edit control's replacement without undo,
  // it also ends what could be undone before.
  if (line_ != nullptr) {
    line_->setText(line_->text() + ToQString(text));
    line_->end(false);
    return;
  }
  lines_->moveCursor(QTextCursor::End);
  lines_->ensureCursorVisible();
  lines_->setUndoRedoEnabled(false);
  lines_->insertPlainText(ToEditorLines(text));
  lines_->setUndoRedoEnabled(true);
}

QWidget* EditBox::Editor() const {
  return line_ != nullptr ? static_cast<QWidget*>(line_) : static_cast<QWidget*>(lines_);
}

SuperBtn::SuperBtn(QWidget* parent, const QString& caption) : QPushButton(caption, parent) {
  setFont(LayoutFont(16));
  setAutoDefault(false);
  setDefault(false);
  setFocusPolicy(Qt::StrongFocus);
  // Flat, bordered, the same colours normal, under the mouse and focused; no focus rectangle.
  setStyleSheet(
      QStringLiteral("QPushButton { color: black; background-color: rgb(0, 128, 128);"
                     " border: 1px solid rgb(0, 64, 64); outline: none; }"
                     "QPushButton:disabled { color: rgb(64, 64, 64); }"));
  KeepMousePresses(this);
}

}  // namespace mf
