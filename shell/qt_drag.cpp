#include "shell/qt_drag.h"

#include <QDrag>
#include <QImage>
#include <QMimeData>
#include <QUrl>
#include <QWindow>

#include "imaging/metafile_canvas.h"
#include "platform/text.h"
#include "stage/hooks.h"

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
  // A metafile is decoded here, off the GUI thread, at its own size.
  QImage picture;
  if (drag.picture && pictures_) {
    DecodedPicture decoded;
    if (pictures_->Load(drag.file, decoded) == 0) picture = imaging::detail::ToQImage(decoded.View());
  }
  onGui_([this, drag, picture] {
    if (!source_) return;
    auto* mime = new QMimeData;
    if (!drag.file.empty()) mime->setUrls({QUrl::fromLocalFile(QString::fromLocal8Bit(drag.file.c_str()))});
    mime->setText(drag.file.empty() ? FromStored(drag.text) : QString::fromLocal8Bit(drag.text.c_str()));
    if (!picture.isNull()) mime->setImageData(picture);
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
