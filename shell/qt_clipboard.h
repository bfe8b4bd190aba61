// The desktop's clipboard through Qt, used from any engine thread: every
// transfer runs on the GUI thread. A picture goes as image data (Qt offers it
// to other programs as PNG, BMP and the other image types), an enhanced
// metafile beside it under "image/emf" and its older alias "image/x-emf";
// text as UTF-8.
#pragma once

#include <QObject>

#include "platform/clipboard.h"

namespace kv {

class QtClipboard : public ClipboardService {
 public:
  explicit QtClipboard(QObject* guiObject) : gui_(guiObject) {}
  void PutPicture(const ClipboardBitmap& bitmap, std::string_view metafile) override;
  void PutText(std::string_view text) override;
  std::optional<ClipboardBitmap> GetBitmap() override;
  std::optional<std::string> GetMetafile() override;
  std::optional<std::string> GetText() override;

 private:
  QObject* gui_;
};

}  // namespace kv
