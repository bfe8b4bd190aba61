#include "shell/qt_clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <cstring>
#include <memory>

#include "platform/text.h"
#include "shell/gui_thread.h"

namespace kv {

namespace {

// The registered name first; programs of the older convention ask for the alias.
constexpr const char* kMetafileTypes[] = {"image/emf", "image/x-emf"};

}  // namespace

void QtClipboard::PutPicture(const ClipboardBitmap& bitmap, std::string_view metafile) {
  QImage image;
  if (!bitmap.IsNull()) {
    image = QImage(bitmap.width, bitmap.height, QImage::Format_RGB32);
    for (int y = 0; y < bitmap.height; ++y)
      std::memcpy(image.scanLine(y), bitmap.pixels.data() + size_t(y) * size_t(bitmap.width),
                  size_t(bitmap.width) * 4);
  }
  const QByteArray emf(metafile.data(), qsizetype(metafile.size()));
  RunOnGuiThread(gui_, [&] {
    auto data = std::make_unique<QMimeData>();
    if (!image.isNull()) data->setImageData(image);
    if (!emf.isEmpty())
      for (const char* type : kMetafileTypes) data->setData(type, emf);
    // The clipboard takes the data over.
    QGuiApplication::clipboard()->setMimeData(data.release());
  });
}

void QtClipboard::PutText(std::string_view text) {
  const QString utf16 = QString::fromStdString(Cp1252ToUtf8(text));
  RunOnGuiThread(gui_, [&] { QGuiApplication::clipboard()->setText(utf16); });
}

std::optional<ClipboardBitmap> QtClipboard::GetBitmap() {
  QImage image;
  RunOnGuiThread(gui_, [&] {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (data && data->hasImage()) image = qvariant_cast<QImage>(data->imageData());
  });
  if (image.isNull()) return std::nullopt;
  image = image.convertToFormat(QImage::Format_RGB32);
  if (image.isNull()) return std::nullopt;
  ClipboardBitmap bitmap;
  bitmap.width = image.width();
  bitmap.height = image.height();
  bitmap.pixels.resize(size_t(bitmap.width) * size_t(bitmap.height));
  for (int y = 0; y < bitmap.height; ++y) {
    uint32_t* row = bitmap.pixels.data() + size_t(y) * size_t(bitmap.width);
    std::memcpy(row, image.constScanLine(y), size_t(bitmap.width) * 4);
    // Qt's opaque alpha is not part of the clipboard's pixel.
    for (int x = 0; x < bitmap.width; ++x) row[x] &= 0x00FFFFFF;
  }
  return bitmap;
}

std::optional<std::string> QtClipboard::GetMetafile() {
  std::optional<std::string> bytes;
  RunOnGuiThread(gui_, [&] {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data) return;
    for (const char* type : kMetafileTypes)
      if (data->hasFormat(type)) {
        const QByteArray emf = data->data(type);
        bytes = std::string(emf.constData(), size_t(emf.size()));
        return;
      }
  });
  return bytes;
}

std::optional<std::string> QtClipboard::GetText() {
  std::optional<std::string> text;
  RunOnGuiThread(gui_, [&] {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (data && data->hasText()) text = Utf8ToCp1252(data->text().toStdString());
  });
  return text;
}

}  // namespace kv
