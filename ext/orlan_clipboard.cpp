// The clipboard builtins: a stage part as a clipboard bitmap, and what the
// clipboard holds written to a file.
#include "ext/orlan_files.h"

#include <cstring>
#include <fstream>

#include "ext/orlan_files_internal.h"
#include "imaging/metafile_type.h"
#include "imaging/picture_codec.h"
#include "platform/clipboard.h"
#include "platform/files.h"
#include "platform/text.h"
#include "stage/locks.h"

namespace kv {

using files_internal::WritableTarget;

// --- the clipboard

PictureView ViewOf(const ClipboardBitmap& bitmap) {
  PictureView v;
  v.width = bitmap.width;
  v.height = bitmap.height;
  v.bitsPerPixel = 32;
  v.bits = reinterpret_cast<const uint8_t*>(bitmap.pixels.data());
  v.stride = ptrdiff_t(bitmap.width) * 4;
  return v;
}

namespace {

bool IsEnhancedMetafile(std::string_view bytes) {
  const std::span<const uint8_t> view(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return imaging::DetectMetafile(view) == imaging::MetafileType::kEmf;
}

}  // namespace

ClipboardBitmap ClipboardBitmapOf(const PixelBuffer& pixels, const Rect& part) {
  ClipboardBitmap bitmap;
  bitmap.width = part.Width();
  bitmap.height = part.Height();
  bitmap.pixels.resize(size_t(bitmap.width) * size_t(bitmap.height));
  uint32_t* out = bitmap.pixels.data();
  for (int y = part.top; y < part.bottom; ++y) {
    if (pixels.Format() == PixelFormat::kXrgb32) {
      std::memcpy(out, pixels.At(part.left, y), size_t(bitmap.width) * 4);
      // The stage's spare byte is not the clipboard's.
      for (int x = 0; x < bitmap.width; ++x) out[x] &= 0x00FFFFFF;
    } else {
      for (int x = 0; x < bitmap.width; ++x) {
        const ColorRef c = pixels.GetPixel(part.left + x, y);
        out[x] = uint32_t(c.Red()) << 16 | uint32_t(c.Green()) << 8 | c.Blue();
      }
    }
    out += bitmap.width;
  }
  return bitmap;
}

std::string EnhancedMetafileOf(const std::string& hostPath) {
  if (hostPath.empty() || imaging::MetafileTypeFromName(hostPath) != imaging::MetafileType::kEmf) return {};
  std::string bytes;
  if (!ReadHostFile(hostPath, bytes, nullptr, kMaxClipboardMetafile)) return {};
  return IsEnhancedMetafile(bytes) ? bytes : std::string();
}

bool WriteClipboardToFile(ClipboardService& clipboard, std::string_view file, const FileContext& files) {
  auto to = WritableTarget(file, files);
  if (!to) return false;
  if (EqualsNoCase(ExtractFromPath(file, path_part::kExtension), ".emf")) {
    std::optional<std::string> emf;
    {
      std::lock_guard lock(PictureLock());
      emf = clipboard.GetMetafile();
    }
    // Another program's data under the metafile's name is written only
    // when it really is an enhanced metafile.
    return emf && IsEnhancedMetafile(*emf) && WriteFileAtomically(to->string(), *emf);
  }
  std::optional<ClipboardBitmap> bitmap;
  {
    std::lock_guard lock(PictureLock());
    bitmap = clipboard.GetBitmap();
  }
  if (!bitmap || bitmap->IsNull()) return false;
  return WritePictureToFile(ViewOf(*bitmap), imaging::Palette{}, file, 0, 0, 0, files);
}

}  // namespace kv
