#include "inserts/print_stage.h"

#include "engine/play_context.h"

#include <cmath>
#include <exception>
#include <vector>

#include "engine/kinds.h"
#include "inserts/button.h"
#include "inserts/ole_control.h"
#include "inserts/stage_host.h"
#include "inserts/text.h"
#include "inserts/visible_insert.h"
#include "inserts/window_insert.h"
#include "stage/compositor.h"
#include "stage/print_layout.h"

namespace kv {

namespace {

// One object to draw, with what its stage sprite was shown with.
struct PrintEntry {
  std::shared_ptr<CVisibleInsert> insert;
  uint32_t rop = ShowParams::kSrcCopy;
  uint32_t stretchOption = 1;
};

int ScaledLength(double v) { return ClampToInt(static_cast<int64_t>(std::trunc(v))); }

// Sizes the copy's own drawing to the print stage: a text's font unless its
// picture is stretched anyway, a button's font, frame and bevel.
void ScaleDrawing(CVisibleInsert& copy, double sy) {
  if (auto* text = dynamic_cast<CText*>(&copy)) {
    if (text->GetStretchPicture()) return;
    if (text->font.useDefault) text->SetTextFontSize(text->GetTextFontSize());
    text->font.height = ScaledLength(text->font.height * (sy + 0.1));
  } else if (auto* button = dynamic_cast<CSDButton*>(&copy)) {
    if (button->font.useDefault) button->font.useDefault = 0;
    button->font.height = ScaledLength(button->font.height * sy);
    button->frameWidth = static_cast<uint16_t>(std::clamp(ScaledLength(button->frameWidth * sy), 0, 0xFFFF));
    button->bevelWidth = static_cast<uint16_t>(std::clamp(ScaledLength(button->bevelWidth * sy), 0, 0xFFFF));
  }
}

}  // namespace

bool PrintsOnPaper(const CInsert& insert) {
  if (!insert.active || insert.GetCategory() != 1) return false;
  if (!dynamic_cast<const CVisibleInsert*>(&insert)) return false;
  // Movies are drawn by their own media layer, not again on paper.
  return insert.GetKindId() != kind::kMovie && insert.GetKindId() != kind::kMediaPlayer &&
         !dynamic_cast<const COleCtl*>(&insert) && !dynamic_cast<const CWindowInsert*>(&insert);
}

PrintStage::PrintStage(Stage& stage) : stage_(stage) {}

PrintStage::~PrintStage() { copies_.clear(); }

bool PrintStage::Create(int width, int height, ColorRef background) {
  if (width <= 0 || height <= 0) return false;
  auto print = std::make_unique<Compositor>(CompositorRole::kPicture);
  if (print->Initialise({0, 0, width, height}, background, stage_.compositor().Format(), nullptr) != 0) return false;
  print_ = std::move(print);
  return true;
}

void PrintStage::Render(const Rect& source, const std::shared_ptr<CInsert>& single,
                        const std::function<bool()>& cancelled) {
  if (!print_ || source.IsEmpty()) return;
  const double sx = double(print_->Width()) / source.Width();
  const double sy = double(print_->Height()) / source.Height();

  std::vector<PrintEntry> entries;
  if (single) {
    if (auto visible = std::dynamic_pointer_cast<CVisibleInsert>(single)) {
      PrintEntry e{visible};
      std::lock_guard lock(stage_.compositor().Lock());
      if (StageSprite* s = visible->GetSprite()) {
        e.rop = s->pending.rop;
        e.stretchOption = s->pending.option;
      }
      entries.push_back(std::move(e));
    }
  } else {
    // The display list in drawing order; hidden and deferred sprites and
    // those of no object (the stage's background) are not printed.
    std::lock_guard lock(stage_.compositor().Lock());
    for (StageSprite* s : stage_.compositor().Sprites()) {
      if (s->displayState == kStateHidden || s->displayState == kStateDeferred || s->kind == kWindowSprite) continue;
      CVisibleInsert* owner = OwnerInsert(*s);
      if (!owner) continue;
      auto insert = std::static_pointer_cast<CVisibleInsert>(owner->weak_from_this().lock());
      if (insert) entries.push_back({insert, s->pending.rop, s->pending.option});
    }
  }

  for (const PrintEntry& e : entries) {
    if (cancelled && cancelled()) return;
    if (!PrintsOnPaper(*e.insert)) continue;
    try {
      auto copy = std::dynamic_pointer_cast<CVisibleInsert>(e.insert->Clone(false));
      if (!copy) continue;
      if (single) copy->rect = {0, 0, source.Width(), source.Height()};
      copy->rect = ScalePrintRect(copy->rect, sx, sy, single ? 0 : source.left, single ? 0 : source.top);
      ScaleDrawing(*copy, sy);
      // Made on the run's stage, then drawn by the printer's compositor.
      StageSprite* sprite = copy->EnsureSprite(stage_.context());
      copies_.push_back(copy);
      if (!sprite) continue;
      sprite->compositor = print_.get();
      sprite->Show(e.rop, 0, 0, 0, 0, nullptr, 0, 0, e.stretchOption, kStateShown);
    } catch (const std::exception&) {
      // An object that cannot be drawn again is left off the paper.
    }
  }
}

PixelBuffer PrintStage::Picture() { return print_ ? print_->Snapshot() : PixelBuffer(); }

}  // namespace kv
