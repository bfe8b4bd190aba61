// A full 1024 x 768 stage of 50 shapes and 20 texts painted by the kinds'
// painters through the compositor, against the same figures and texts drawn
// with QPainter directly (its own rectangle text layout, no layer of ours).
// The ratio ours / direct is the figure that counts (target: at most 1.3).
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <memory>
#include <vector>

#include "inserts/ellipse.h"
#include "inserts/poly.h"
#include "inserts/rectangle.h"
#include "inserts/text.h"
#include "inserts/triangle.h"
#include "stage/compositor.h"
#include "stage/qt_painter.h"

namespace kv {
namespace {

constexpr int kWidth = 1024, kHeight = 768;
constexpr uint32_t kPalette[] = {0x0000C0FF, 0x00FF8000, 0x0040C040, 0x00C040C0, 0x00808000};
const char* const kTexts[] = {
    "The quick brown fox jumps over the lazy dog and keeps running across the stage.",
    "Centred caption\nwith a second line",
    "A longer paragraph of text that wraps over several lines inside its rectangle on the stage.",
    "Short",
};

// The i-th shape's rectangle: a 10 x 5 grid of 96 x 64 cells in the upper part.
Rect ShapeRect(int i) {
  const int col = i % 10, row = i / 10;
  return {col * 100 + 8, row * 80 + 8, col * 100 + 104, row * 80 + 72};
}
// The i-th text's rectangle: a 4 x 5 grid in the lower part.
Rect TextRect(int i) {
  const int col = i % 4, row = i / 4;
  return {col * 250 + 8, 420 + row * 68, col * 250 + 248, 420 + row * 68 + 64};
}

std::unique_ptr<CObjectFill> MakeShape(int i) {
  std::unique_ptr<CObjectFill> s;
  switch (i % 5) {
    case 0: s = std::make_unique<CRectangle>(); break;
    case 1: {
      auto r = std::make_unique<CRectangle>();
      r->cornerWidth = r->cornerHeight = 16;
      s = std::move(r);
      break;
    }
    case 2: s = std::make_unique<CEllipse>(); break;
    case 3: s = std::make_unique<CTriangle>(); break;
    default: {
      auto p = std::make_unique<CPoly>();
      p->points = {{512, 0, 6}, {1024, 400, 2}, {820, 1024, 2}, {200, 1024, 2}, {0, 400, 3}};
      s = std::move(p);
    }
  }
  s->Reset();
  s->rect = ShapeRect(i);
  s->fillColor = kPalette[i % 5];
  s->penColor = 0;
  s->shadowX = s->shadowY = (i % 2) ? 3 : 0;  // every other one with the default shadow
  if (i % 7 == 0) {
    s->fillStyle = 1;
    s->patternIndex = uint8_t(i % CObjectFill::kPatternCount);
  }
  return s;
}

std::unique_ptr<CText> MakeText(int i) {
  auto t = std::make_unique<CText>();
  t->Reset();
  t->rect = TextRect(i);
  t->penColor = 0x00202020;
  t->drawFlags = (i % 2) ? 0x0A10 | 0x0001 : 0x0A10;  // word break, external leading; every other centred
  t->font.useDefault = 0;
  t->font.height = -13;
  t->font.weight = 400;
  t->font.faceName = "Arial";
  t->SetShownText(kTexts[i % 4]);
  return t;
}

// The stage of 50 shapes and 20 texts on a compositor, as the player holds it.
struct StageOfShapes {
  Compositor c{CompositorRole::kStage};
  std::vector<std::unique_ptr<CObjectFill>> shapes;
  std::vector<std::unique_ptr<CText>> texts;
  std::vector<std::unique_ptr<PaintedSprite>> sprites;
  std::vector<Rect> places;  // each sprite's own rectangle
  bool ready = false;

  StageOfShapes() {
    EnsureGuiApplication();
    if (c.Initialise({0, 0, kWidth, kHeight}, ColorRef(0x00F0F0F0), PixelFormat::kXrgb32, nullptr) != 0) return;
    for (int i = 0; i < 50; ++i) {
      shapes.push_back(MakeShape(i));
      Add(*shapes.back(), shapes.back()->rect);
    }
    for (int i = 0; i < 20; ++i) {
      texts.push_back(MakeText(i));
      Add(*texts.back(), texts.back()->rect);
    }
    for (auto& s : sprites) c.Add(*s, false);
    ready = true;
  }
  ~StageOfShapes() {
    if (ready)
      for (auto& s : sprites) c.Remove(*s, false);
  }
  void Add(SelfPainting& painter, const Rect& r) {
    sprites.push_back(std::make_unique<PaintedSprite>(painter, PixelFormat::kXrgb32));
    sprites.back()->Setup(r, {}, 5, false, {}, 0, 0);
    places.push_back(r);
  }
};

// Repainting the same stage: the kinds keep their regions and layouts.
void BM_StageOfShapesAndTexts(benchmark::State& state) {
  StageOfShapes stage;
  if (!stage.ready) {
    state.SkipWithError("no compositor");
    return;
  }
  for (auto _ : state) {
    stage.c.Update({0, 0, kWidth, kHeight});
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_StageOfShapesAndTexts)->Unit(benchmark::kMicrosecond);

// Every frame every object moves by a pixel and every text is set again, so
// each figure's regions and each text's layout are made anew.
void BM_StageOfShapesAndTextsChanging(benchmark::State& state) {
  StageOfShapes stage;
  if (!stage.ready) {
    state.SkipWithError("no compositor");
    return;
  }
  int frame = 0;
  for (auto _ : state) {
    const int dx = ++frame % 2;
    for (size_t i = 0; i < stage.sprites.size(); ++i)
      stage.sprites[i]->MoveTo(stage.places[i].Offset(dx, 0), 5, true);
    for (size_t i = 0; i < stage.texts.size(); ++i) stage.texts[i]->SetShownText(kTexts[i % 4]);
    stage.c.Update({0, 0, kWidth, kHeight});
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_StageOfShapesAndTextsChanging)->Unit(benchmark::kMicrosecond);

// The same stage drawn with QPainter alone: each figure once with its shadow
// as one offset copy, each text with QPainter's own word-wrapping layout.
void BM_StageWithQPainterDirectly(benchmark::State& state) {
  EnsureGuiApplication();
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  QFont font("Liberation Sans");
  font.setPixelSize(13);
  font.setStyleStrategy(QFont::NoAntialias);
  auto figure = [](QPainter& p, int kind, const QRect& r) {
    switch (kind) {
      case 0: p.drawRect(r); break;
      case 1: p.drawRoundedRect(r, 8, 8); break;
      case 2: p.drawEllipse(r); break;
      case 3: p.drawPolygon(QPolygon({r.bottomLeft(), QPoint(r.center().x(), r.top()), r.bottomRight()})); break;
      default: {
        const int w = r.width(), h = r.height();
        p.drawPolygon(QPolygon({QPoint(r.left() + w / 2, r.top()), QPoint(r.right(), r.top() + h * 400 / 1024),
                                QPoint(r.left() + w * 820 / 1024, r.bottom()), QPoint(r.left() + w * 200 / 1024, r.bottom()),
                                QPoint(r.left(), r.top() + h * 400 / 1024)}));
      }
    }
  };
  for (auto _ : state) {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(image.rect(), QColor(0xF0, 0xF0, 0xF0));
    for (int i = 0; i < 50; ++i) {
      const Rect r = ShapeRect(i);
      QRect box(r.left, r.top, r.Width() - 1, r.Height() - 1);
      if (i % 2) {
        box.adjust(0, 0, -3, -3);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x80, 0x80, 0x80));
        figure(p, i % 5, box.translated(3, 3));
      }
      p.setPen(QColor(0, 0, 0));
      p.setBrush(ToQColor(kPalette[i % 5]));
      figure(p, i % 5, box);
    }
    p.setFont(font);
    p.setPen(QColor(0x20, 0x20, 0x20));
    for (int i = 0; i < 20; ++i) {
      const Rect r = TextRect(i);
      p.drawText(QRect(r.left, r.top, r.Width(), r.Height()), Qt::TextWordWrap | ((i % 2) ? Qt::AlignHCenter : 0),
                 QString::fromLatin1(kTexts[i % 4]));
    }
    p.end();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_StageWithQPainterDirectly)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kv

BENCHMARK_MAIN();
