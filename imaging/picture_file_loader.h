// The stage's picture loader for every picture the player shows, by the
// rules of LoadPictureFile below: metafiles (by their ".WMF" or ".EMF" name)
// played at the size asked for, ".BMP" and ".DIB" by the bitmap reader alone,
// other raster files by their content; a name without a four-character
// extension loads nothing and answers 0. The picture lock the
// sprite holds while loading never meets the stage lock here: the players
// take no lock and keep no state.
#pragma once

#include <string>

#include "imaging/metafile.h"
#include "imaging/palette.h"
#include "imaging/picture_loader.h"

namespace kv::imaging {

class PictureFileLoader : public PictureLoader {
 public:
  explicit PictureFileLoader(const DecodeOptions& options = {}) : options_(options) {}
  // The size metafiles are drawn at; 0 × 0: their own size.
  void SetMetafileSize(int width, int height) { width_ = width, height_ = height; }
  int Load(const std::string& hostPath, DecodedPicture& out) override;
  // Draws a metafile at the size asked for. Callers serialise loads (the
  // sprite holds the picture lock), so the size set here is the one used.
  int LoadSized(const std::string& hostPath, int width, int height, DecodedPicture& out) override {
    SetMetafileSize(width, height);
    return Load(hostPath, out);
  }
  PicError LastError() const { return lastError_; }
  // Whether the last picture loaded was a metafile, and the height it has
  // at a width of 100 (its aspect ratio, as sprites record it).
  bool LastWasMetafile() const { return lastWasMetafile_; }
  int HeightAtWidth100() const { return heightAt100_; }

 private:
  DecodeOptions options_;
  int width_ = 0;
  int height_ = 0;
  PicError lastError_ = PicError::kNone;
  bool lastWasMetafile_ = false;
  int heightAt100_ = 0;
};

// Loads a picture for a sprite, by the name's extension of exactly four
// characters: ".WMF" and ".EMF" played at `width` x `height` (100 wide at the
// metafile's aspect ratio unless both are given) with the default palette,
// marking `sprite` as holding a metafile; ".BMP" and ".DIB" by the bitmap
// reader alone; anything else through the picture object. 0 with `bitmap` and
// `palette` (an 8-bit picture's colours) filled; 0 with nothing loaded for a
// name without such an extension; 11 for an unknown type, 8 for no picture.
// Takes the picture lock itself, so it must not be called from a
// PictureLoader (the sprite already holds that lock there).
int LoadPictureFile(const std::string& hostPath, int width, int height, DecodedPicture& bitmap, Palette& palette,
                    StageSprite* sprite = nullptr, const DecodeOptions& options = {});

}  // namespace kv::imaging
