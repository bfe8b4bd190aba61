// Feeds stored values of the self-drawn kinds to their painters: draw-text
// flags and a text to the layout, polygon points and types, pen, shadow and
// corner values to the shapes, an outline to the hot spot's mask. Nothing
// may be drawn outside the clip, every laid-out line keeps one prefix mark
// per character, and the work stays bounded whatever the values.
#include <QImage>
#include <QPainter>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "inserts/hotspot.h"
#include "inserts/poly.h"
#include "inserts/rectangle.h"
#include "inserts/text.h"
#include "stage/qt_painter.h"

namespace {

constexpr QRgb kBack = 0xFF000000;

class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  template <class T>
  T Take() {
    T v{};
    const size_t n = std::min(sizeof v, size_ - pos_);
    std::memcpy(&v, data_ + pos_, n);
    pos_ += n;
    return v;
  }
  std::string Rest(size_t most) {
    const size_t n = std::min(most, size_ - pos_);
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return s;
  }
  bool Empty() const { return pos_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Anything painted outside [8, 56) x [8, 40) escaped the clip.
void CheckClip(const QImage& image) {
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if ((x < 8 || x >= 56 || y < 8 || y >= 40) && (image.pixel(x, y) | 0xFF000000) != kBack) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kv::EnsureGuiApplication();
  Bytes in(data, size);
  const kv::Rect clip{8, 8, 56, 40};
  const kv::Rect area{in.Take<int8_t>(), in.Take<int8_t>(), in.Take<int16_t>(), in.Take<int16_t>()};
  QImage image(64, 48, QImage::Format_RGB32);
  image.fill(kBack);
  kv::StageSprite sprite;
  sprite.Setup(area, {}, 0, in.Take<uint8_t>() & 1, kv::ColorRef(in.Take<uint32_t>()), in.Take<uint8_t>(), 0);

  kv::CText text;
  text.Reset();
  text.drawFlags = in.Take<uint32_t>();
  text.shadowX = in.Take<int32_t>();
  text.shadowY = in.Take<int32_t>();
  text.penColor = 0x00FFFFFF;
  text.font.useDefault = in.Take<uint8_t>() & 1;
  text.font.height = in.Take<int16_t>() % 200;
  text.font.width = in.Take<int16_t>() % 200;
  text.font.escapement = in.Take<int16_t>();
  text.font.weight = in.Take<int16_t>();
  text.font.pitchAndFamily = in.Take<uint8_t>();
  text.SetShownText(in.Rest(in.Take<uint8_t>()));
  {
    QPainter p(&image);
    p.setClipRect(kv::ToQRect(clip));
    text.PaintText(p, sprite, area);
  }
  for (const kv::TextLine& line : text.Layout(kv::PaintableRect(area)).lines)
    if (line.underlined.size() != size_t(line.text.size())) std::abort();

  kv::CRectangle rect;
  rect.Reset();
  rect.penStyle = in.Take<uint16_t>() % 8;
  rect.penWidth = in.Take<uint16_t>();
  rect.shadowX = in.Take<int32_t>();
  rect.shadowY = in.Take<int32_t>();
  rect.cornerWidth = in.Take<int32_t>();
  rect.cornerHeight = in.Take<int32_t>();
  rect.fillStyle = in.Take<uint8_t>() % 3;
  rect.patternIndex = in.Take<uint8_t>();

  kv::CPoly poly;
  poly.Reset();
  while (!in.Empty() && poly.points.size() < kv::CPoly::kMaxPoints)
    poly.points.push_back({in.Take<int32_t>(), in.Take<int32_t>(), in.Take<uint8_t>()});
  {
    QPainter p(&image);
    p.setClipRect(kv::ToQRect(clip));
    rect.PaintShape(p, sprite, area);
    poly.PaintShape(p, sprite, area);
  }
  CheckClip(image);

  kv::CHotSpot spot;
  spot.Reset();
  spot.fillMode = poly.points.empty() ? 1 : poly.points[0].type % 3;
  for (const kv::PolyPoint& pt : poly.points) spot.outline.push_back({pt.x, pt.y});
  const kv::CHotSpot::Mask mask = spot.RenderMask();
  if (!mask.bits.isNull() && (mask.bits.width() > kv::CHotSpot::kMaxMaskSide || mask.bits.height() > kv::CHotSpot::kMaxMaskSide))
    std::abort();
  // Hits at the outline's points, through the input's small rectangle and
  // through one the points themselves span, stretched or not, read inside
  // the mask's pixels (the sanitizers catch a read outside them).
  if (spot.outline.size() >= 2) {
    const kv::OutlinePoint a = spot.outline[0], b = spot.outline[1];
    kv::StageSprite wide;
    wide.Setup({a.x, a.y, b.x, b.y}, {}, 0, false, kv::ColorRef(), 0, 0);
    for (kv::StageSprite* s : {&sprite, &wide})
      for (int32_t stretch : {0, 1}) {
        s->stretch = stretch;
        for (const kv::OutlinePoint& pt : spot.outline) mask.Hits(*s, pt.x, pt.y);
      }
  }
  return 0;
}
