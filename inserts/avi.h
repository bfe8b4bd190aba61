// CAVI: the movie insert, a video file played on the stage through the
// media control layer, composited or in its own playback window.
#pragma once

#include <cstdint>
#include <string>

#include "inserts/visible_insert.h"

namespace kv {

struct AviFields {
  uint16_t movieVersion = 0;  // version read; written as 3
  uint32_t movieAux3 = 0;
  uint8_t movieAux2 = 0;
  uint8_t playInline = 0;
  uint8_t silenceSounds = 1;
  uint8_t movieOption1 = 1;
  uint32_t startMs = 0;
  uint32_t showEffectEndMs = 0;
  uint32_t hideEffectStartMs = 0;
  uint32_t endMs = 0;  // 0: the end of the movie
  uint16_t movieOption2 = 1;
  uint8_t withBorder = 0;
  uint8_t useMovieWindow = 0;
  std::string movieFile;
  std::string movieCaption;
};

class CAVI : public CVisibleInsert, public AviFields {
  KV_DECLARE_CLASS(CAVI)
 public:
  static constexpr uint16_t kNewestVersion = 3;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
};

}  // namespace kv
