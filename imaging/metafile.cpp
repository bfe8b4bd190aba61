#include "imaging/metafile.h"

#include "imaging/metafile_canvas.h"

namespace kv::imaging {

Outcome MetafileSize(std::span<const uint8_t> bytes, MetafileType type, int& width, int& height) {
  return detail::Catching([&] {
    if (type == MetafileType::kWmf) return detail::WmfSize(bytes, width, height);
    if (type == MetafileType::kEmf) return detail::EmfSize(bytes, width, height);
    detail::Fail(PicError::kUnknownType, "not a metafile");
  });
}

Outcome RenderMetafile(std::span<const uint8_t> bytes, MetafileType type, Picture& out, const MetafileOptions& options) {
  if (options.width < 0 || options.height < 0 || (options.width == 0) != (options.height == 0))
    return {PicError::kCorrupt, "a metafile is drawn at a size of two positive sides, or at its own"};
  // A failed play leaves `out` as it was.
  Picture fresh;
  Outcome outcome = detail::Catching([&] {
    if (type == MetafileType::kWmf) return detail::PlayWmf(bytes, fresh, options);
    if (type == MetafileType::kEmf) return detail::PlayEmf(bytes, fresh, options);
    detail::Fail(PicError::kUnknownType, "not a metafile");
  });
  if (outcome) out = std::move(fresh);
  return outcome;
}

}  // namespace kv::imaging
