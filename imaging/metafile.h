// Our own players of Windows metafiles (WMF, with or without the placeable
// header, and EMF) onto QPainter, producing a 32-bit picture. Called by the
// picture file loader, kvtool picture and the tests. The players keep no
// state between calls and take no lock; they may run for a while on large
// files, so a caller must not hold the stage lock while one plays.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "imaging/metafile_type.h"
#include "imaging/picture_codec.h"

namespace kv::imaging {

struct MetafileOptions {
  // The size to draw at; 0 × 0 draws at the metafile's own size.
  int width = 0;
  int height = 0;
  // Fills the picture before the records play, so a keyed sprite with the
  // same key shows the untouched parts transparent.
  ColorRef background = kDefaultBackdrop;
  uint64_t maxPixels = uint64_t(kMaxSide) * kMaxSide;
};

// The metafile's own size in pixels at 96 dpi: a placeable header's box at
// its units per inch, an EMF header's frame, or else the first window extent.
Outcome MetafileSize(std::span<const uint8_t> bytes, MetafileType type, int& width, int& height);

// Plays the metafile onto a new 32-bit picture. Text needs a QGuiApplication
// to exist (Qt's font database); without one a metafile holding text fails.
Outcome RenderMetafile(std::span<const uint8_t> bytes, MetafileType type, Picture& out,
                       const MetafileOptions& options = {});

}  // namespace kv::imaging
