#include "shell/qt_drag.h"

#include <QDrag>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <QWindow>

#include "platform/text.h"

namespace kv {

namespace {

QString FromStored(const std::string& text) {
  QString out;
  out.reserve(static_cast<qsizetype>(text.size()));
  for (unsigned char c : text) out.append(QChar(static_cast<char16_t>(Cp1252ToUnicode(c))));
  return out;
}

}  // namespace

void QtDragHost::StartContentDrag(const ContentDrag& drag) {
  onGui_([this, drag] {
    if (!source_) return;
    auto* mime = new QMimeData;
    const QString file = QString::fromLocal8Bit(drag.file.c_str());
    if (!drag.file.empty()) mime->setUrls({QUrl::fromLocalFile(file)});
    mime->setText(drag.file.empty() ? FromStored(drag.text) : file);
    // A metafile goes as a picture too: its bytes under its picture type.
    if (drag.picture) {
      QFile in(file);
      if (in.open(QIODevice::ReadOnly))
        mime->setData(file.endsWith(".emf", Qt::CaseInsensitive) ? "image/emf" : "image/wmf", in.readAll());
    }
    auto* qdrag = new QDrag(source_);
    qdrag->setMimeData(mime);
    qdrag->exec(Qt::CopyAction);
  });
}

void QtDragHost::StartFrameDrag() {
  onGui_([this] {
    if (!source_) return;
    if (QWindow* handle = source_->window()->windowHandle()) handle->startSystemMove();
  });
}

}  // namespace kv
