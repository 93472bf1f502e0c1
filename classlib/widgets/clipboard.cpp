#include "classlib/widgets/clipboard.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTextEdit>

#include "classlib/widgets/control.h"
#include "classlib/widgets/std_controls.h"

namespace kavrin::classlib {

std::string TClipboard::AsText() const { return QGuiApplication::clipboard()->text().toStdString(); }

void TClipboard::SetAsText(const std::string& text) {
  QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

bool TClipboard::HasFormat(unsigned format) const {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  if (!data) return false;
  if (format == CF_TEXT) return data->hasText();
  if (format == CF_BITMAP) return data->hasImage();
  return false;
}

void TClipboard::Assign(const TBitmap& bitmap) { QGuiApplication::clipboard()->setImage(bitmap.Image()); }

TBitmap TClipboard::GetBitmap() const {
  TBitmap bitmap;
  bitmap.SetImage(QGuiApplication::clipboard()->image());
  return bitmap;
}

void TClipboard::Clear() { QGuiApplication::clipboard()->clear(); }

TClipboard& Clipboard() {
  static TClipboard clipboard;
  return clipboard;
}

void SendClipboardCommand(TClipboardCommand command) {
  QWidget* focus = QApplication::focusWidget();
  if (!focus) return;
  if (auto* edit = dynamic_cast<TCustomEdit*>(TControl::FromWidget(focus))) {
    switch (command) {
      case TClipboardCommand::Cut: edit->CutToClipboard(); break;
      case TClipboardCommand::Copy: edit->CopyToClipboard(); break;
      case TClipboardCommand::Paste: edit->PasteFromClipboard(); break;
    }
    return;
  }
  // Editors inside other controls: a drop-down's edit, a grid's in-place editor.
  if (auto* line = qobject_cast<QLineEdit*>(focus)) {
    switch (command) {
      case TClipboardCommand::Cut:
        if (!line->isReadOnly()) line->cut();
        break;
      case TClipboardCommand::Copy: line->copy(); break;
      case TClipboardCommand::Paste:
        if (!line->isReadOnly()) line->paste();
        break;
    }
  } else if (auto* text = qobject_cast<QTextEdit*>(focus)) {
    switch (command) {
      case TClipboardCommand::Cut: text->cut(); break;
      case TClipboardCommand::Copy: text->copy(); break;
      case TClipboardCommand::Paste: text->paste(); break;
    }
  }
}

}  // namespace kavrin::classlib
