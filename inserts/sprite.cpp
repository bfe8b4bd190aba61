#include "inserts/sprite.h"

#include <cmath>
#include <filesystem>
#include <mutex>

#include "engine/flow.h"
#include "engine/runner.h"
#include "inserts/stage_host.h"
#include "persist/field_walk.h"
#include "persist/project_session.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/text.h"
#include "stage/compositor.h"
#include "stage/locks.h"
#include "stage/sprite_strip.h"

namespace kv {

KV_IMPLEMENT_CLASS(CSprite, CVisibleInsert, 0)

void CSprite::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
  showMode = show_mode::kShowAndPlayWhenReady;
  enabled = true;
}

void CSprite::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CSprite>(other));
}

template <class W>
void CSprite::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  w.Group("frameSprite", [&] {
    FrameSpriteRecord& f = frameSprite;
    const uint16_t v = w.Version("frameVersion", f.frameVersion, kNewestVersion, 1, "FrameSprite");
    if (v == 2) {
      // Only version 2 kept the owner's perspective scaling here.
      w("scaleEnabled", scaleEnabled);
      w("scaleMode", scaleMode);
      w("scaleAtLeft", scaleAtLeft);
      w("scaleAtRight", scaleAtRight);
      w("scaleAtTop", scaleAtTop);
      w("scaleAtBottom", scaleAtBottom);
    }
    if (v >= 2) w("skipFirstCellOnLoop", f.skipFirstCellOnLoop);
    w.Records("frames", f.frames, [&w](SpriteFrame& frame) {
      w("framePicture", frame.framePicture);
      w("distancePerCell", frame.distancePerCell);
    });
    w("historyLength", f.historyLength);
    w("autoCentre", f.autoCentre);
    w("autoCentreDelay", f.autoCentreDelay);
    w("cycleCentre", f.cycleCentre);
    w("cycleStartDelay", f.cycleStartDelay);
    w("cycleRate", f.cycleRate);
    if (v == 1) w.Skip(8);  // two u32 nothing reads
  });
  const uint16_t v = w.Version("spriteVersion", spriteVersion, kNewestVersion, 1, "CSprite");
  if (v >= 3) w("spriteAux3", spriteAux3);
  if (v >= 2) w("spriteAux2", spriteAux2);
  w("defaultFrame", defaultFrame);
  w("spriteAux1", spriteAux1);
  w.Records("legacyRecords", legacyRecords, [&w](LegacyFrameRecord& r) {
    w("text1", r.text1);
    w("text2", r.text2);
    w("values", r.values);
  });
}

KV_FIELD_WALK_IO(CSprite)

// ---------------------------------------------------------------- the frames

namespace {

bool IsBitmapName(const std::string& file) {
  const std::string ext = std::filesystem::path(file).extension().string();
  return EqualsNoCase(ext, ".bmp") || EqualsNoCase(ext, ".dib");
}

}  // namespace

// The stage sprite of a CSprite: nine frames of cell strips, the recent
// centres it has been at, and what it travelled. Drawing chooses the frame
// from the direction of recent movement and the cell from the distance.
class FrameSprite : public StageSprite {
 public:
  struct Frame {
    std::string file;  // substituted name; empty: no picture
    uint32_t distancePerCell = 6;
    bool loaded = false;
    bool failed = false;
    DecodedPicture picture;
    StripLayout cells;
    bool HasPicture() const { return !file.empty() && !failed; }
  };

  FrameSprite(CSprite& owner, Stage& stage) : StageSprite(stage.compositor().Format()), sprite_(owner), stage_(stage) {}

  // Guards the frames, the history and the cycle state; taken inside the
  // stage lock by drawing, and alone by the cycle.
  std::recursive_mutex frameLock;
  std::array<Frame, 9> frames;
  size_t historyLength = 5;
  std::vector<Point> history;  // oldest first
  uint32_t travelled = 0;
  bool cycling = false;
  int cycleCell = 0;
  int currentFrame = -1;
  bool replaced = true;
  int shownFrame = -1;

  bool AnyPicture() const {
    for (const Frame& f : frames)
      if (!f.file.empty()) return true;
    return false;
  }

  // Loads frame `n` (1 to 9) when it has a file and is not loaded yet.
  void Load(int n) {
    Frame& f = frames[size_t(n - 1)];
    if (f.loaded || f.file.empty()) return;
    f.loaded = true;
    Runner& runner = stage_.runner();
    auto resolved = runner.Session().locator().RetrieveResource(f.file);
    std::optional<std::string> host;
    if (resolved) host = runner.Session().HostPath(*resolved);
    std::error_code ec;
    if (!host || !std::filesystem::is_regular_file(*host, ec)) {
      f.failed = true;
      return;
    }
    int error;
    {
      std::lock_guard lock(PictureLock());
      error = stage_.pictures().Load(*host, f.picture);
    }
    if (error != 0 || f.picture.width <= 0 || f.picture.height <= 0) {
      f.failed = true;
      return;
    }
    std::string bytes;
    std::string note;
    if (ReadHostFile(*host, bytes))
      f.cells = ReadStripLayout({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, f.picture.width,
                                &note);
    else
      f.cells = {1, f.picture.width};
    if (!note.empty()) Log("Sprite %s, frame %d (%s): %s", sprite_.name.c_str(), n, f.file.c_str(), note.c_str());
  }

  void LoadAll() {
    std::lock_guard lock(frameLock);
    for (int n = 1; n <= 9; ++n) Load(n);
  }

  int CellCount(int n) {
    Frame& f = frames[size_t(n - 1)];
    Load(n);
    return f.HasPicture() ? f.cells.cellCount : 0;
  }

  // Direction 1 to 8 from `from` to `to` (up is 1, clockwise), 9 for none.
  static int Direction(Point from, Point to) {
    const double dx = to.x - from.x, dy = to.y - from.y;
    if (dx == 0 && dy == 0) return 9;
    const double pi = 3.14159265358979323846;
    const double x = (std::atan2(dx, dy) + pi) / (2 * pi) * 8;
    const long r = std::lround(x);
    return int(((8 - r) % 8 + 8) % 8) + 1;
  }

  // The frame shown for direction `d`: itself, or the nearest neighbour with
  // a picture (+1 before -1), or the centre frame.
  int FrameFor(int d) {
    if (d == 9) return 9;
    static constexpr int kTry[] = {0, 1, -1, 2, -2, 3, -3, 4, -4};
    for (int k : kTry) {
      const int n = ((d - 1 + k) % 8 + 8) % 8 + 1;
      Load(n);
      if (frames[size_t(n - 1)].HasPicture()) return n;
    }
    return 9;
  }

  void Show(uint32_t rop, uint32_t effect, uint32_t param1, uint32_t param2, uint32_t speed, const MotionPath* path,
            int32_t motion1, int32_t motion2, uint32_t stretchOption, uint8_t mode) override {
    {
      std::lock_guard lock(frameLock);
      replaced = true;
    }
    StageSprite::Show(rop, effect, param1, param2, speed, path, motion1, motion2, stretchOption, mode);
  }

  // Chooses frame and cell for the sprite's place (under the stage lock) and
  // sets the picture and source rectangle to that cell; false when there is
  // nothing to draw.
  bool Advance() {
    std::lock_guard lock(frameLock);
    const Point c{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    if (replaced || history.size() != historyLength) {
      history.assign(historyLength, c);
      replaced = false;
    }
    const Point newest = history.back();
    const bool moved = !(c.x == newest.x && c.y == newest.y);
    if (moved || currentFrame < 1 || currentFrame > 9) currentFrame = FrameFor(Direction(history.front(), c));
    if (moved) {
      travelled += uint32_t(std::lround(std::hypot(double(c.x - newest.x), double(c.y - newest.y))));
      history.erase(history.begin());
      history.push_back(c);
    }
    Load(currentFrame);
    Frame& f = frames[size_t(currentFrame - 1)];
    if (!f.HasPicture()) return false;
    int cell = 0;
    if (currentFrame == 9) {
      cell = cycling ? cycleCell : 0;
    } else if (f.distancePerCell != 0 && f.cells.cellCount != 0) {
      cell = int((travelled / f.distancePerCell) % uint32_t(f.cells.cellCount));
    }
    cell = std::min(cell, f.cells.cellCount - 1);
    if (shownFrame != currentFrame) {
      if (SetPicture(f.picture.View()) != 0) return false;
      shownFrame = currentFrame;
    }
    SetSourceRect({cell * f.cells.cellWidth, 0, (cell + 1) * f.cells.cellWidth, f.picture.height});
    return true;
  }

  void Draw(DrawTarget& target, const Rect& clip) override {
    if (Advance()) StageSprite::Draw(target, clip);
  }

  bool HitTest(int x, int y) override {
    std::lock_guard lock(frameLock);
    return shownFrame >= 1 && StageSprite::HitTest(x, y);
  }

  bool PaintsEveryPixel() const override { return false; }

 private:
  CSprite& sprite_;
  Stage& stage_;
};

FrameSprite* CSprite::Frames() { return dynamic_cast<FrameSprite*>(GetSprite()); }

std::unique_ptr<StageSprite> CSprite::MakeSprite(Stage& stage) {
  Runner& runner = stage.runner();
  auto sprite = std::make_unique<FrameSprite>(*this, stage);
  const FrameSpriteRecord& f = frameSprite;
  for (size_t i = 0; i < FrameSpriteRecord::kFrames; ++i) {
    sprite->frames[i].file = runner.ExpandNames(f.frames[i].framePicture);
    sprite->frames[i].distancePerCell = f.frames[i].distancePerCell;
  }
  if (!sprite->AnyPicture()) return nullptr;
  sprite->historyLength = std::clamp<uint32_t>(f.historyLength, 1, 99);
  sprite->effectAbortKey = static_cast<uint16_t>(stage.settings().exitKey);
  sprite->Setup(rect, {0, 0, rect.Width(), rect.Height()}, layer, transparent != 0, ColorRef(transparentColor),
                colorTolerance, sprite->effectAbortKey);
  sprite->LoadAll();
  return sprite;
}

// ---------------------------------------------------------------- the record's text

std::string CSprite::FrameFile(int n) const {
  if (n == 0) n = int(defaultFrame);
  if (n < 1 || n > 9) return {};
  return frameSprite.frames[size_t(n - 1)].framePicture;
}

void CSprite::GetPropertyText(int index, std::string& text, int& type) {
  text = FrameFile(index);
  type = 8;  // a file name
}

int CSprite::SetPropertyText(PlayContext&, int index, const std::string& text) {
  if (index == 0) index = int(defaultFrame);
  if (index < 1 || index > 9) return 1;
  frameSprite.frames[size_t(index - 1)].framePicture = text;
  return 0;
}

bool CSprite::HasContent() const {
  for (const SpriteFrame& f : frameSprite.frames)
    if (!f.framePicture.empty()) return true;
  return false;
}

void CSprite::SetCentrePicture(const std::string& text) {
  frameSprite.frames[kCentreFrame - 1].framePicture = IsBitmapName(text) ? text : std::string();
}

void CSprite::ChangeContent(PlayContext& ctx, const std::string& file) {
  StageSprite* old = GetSprite();
  SetContentText(ctx, file);
  if (!old) return;
  Rect place;
  uint8_t state;
  bool wasOn;
  {
    std::lock_guard lock(StageLock());
    place = old->rect;
    state = old->displayState;
    wasOn = old->onStage != 0;
  }
  DestroySprite();
  if (StageSprite* fresh = EnsureSprite(ctx); fresh && wasOn) {
    {
      std::lock_guard lock(StageLock());
      fresh->rect = place;
      fresh->SetDisplayState(state);
    }
    ctx.stage->compositor().Add(*fresh, true);
  }
  Invalidate(ctx);
}

void CSprite::ListEvents(std::vector<uint32_t>& events) const {
  CVisibleInsert::ListEvents(events);
  events.push_back(event::kSpriteAutoCentered);
  events.push_back(event::kSpriteCenterCycling);
}

// ---------------------------------------------------------------- playing

// A cycling centre frame needs a thread of its own to pace it.
bool CSprite::WantsOwnThread(PlayContext& ctx) const {
  return MayTakeOwnThread(ctx) && (threaded == 1 || frameSprite.cycleCentre != 0 || showMode == show_mode::kThreaded);
}

void CSprite::OnEnable(PlayContext& ctx) {
  enabled = true;
  CVisibleInsert::OnEnable(ctx);
}

void CSprite::OnDisable(PlayContext& ctx) {
  enabled = false;
  CVisibleInsert::OnDisable(ctx);
}

void CSprite::Stop(PlayContext& ctx) {
  CVisibleInsert::Stop(ctx);
  if (FrameSprite* s = Frames()) {
    {
      std::lock_guard lock(s->frameLock);
      s->currentFrame = kCentreFrame;
    }
    Invalidate(ctx);
  }
}

void CSprite::Hide(PlayContext& ctx) { TakeOffAndDropSprite(ctx); }

void CSprite::PlayOnStage(PlayContext& ctx) {
  Runner* r = ctx.stage ? &ctx.runner : nullptr;
  if (!r) return;
  if (FrameSprite* s = Frames(); s && path) {
    for (;;) {
      r->RaiseEvent(*this, event::kStartPlaying, 0, nullptr);
      const int64_t started = r->Now();
      s->PlayPath(*path);
      if (!r->playerRunning) break;
      // A Stop Playing handler that plays this object again repeats the path
      // at once, without the event in between.
      std::shared_ptr<CFlow> handler = FindHandler(event::kStopPlaying);
      if (handler && handler->command == command::kPlayThisObject) {
        if (r->IsStopRequested() || !running || r->abortRequested || r->shuttingDown) break;
        // A path that takes no time (one segment only puts the object at its
        // start) would repeat without end in one instant: let time pass.
        if (r->Now() == started && !r->WaitPeriod(1)) break;
        continue;
      }
      r->RaiseEvent(*this, event::kStopPlaying, 0, nullptr);
      break;
    }
  }
  CentreCycle(ctx);
}

void CSprite::CentreCycle(PlayContext& ctx) {
  Runner& r = ctx.runner;
  FrameSprite* s = Frames();
  if (!s || !r.playerRunning || !enabled) return;
  {
    std::lock_guard lock(s->frameLock);
    if (s->CellCount(kCentreFrame) == 0) return;
  }
  const FrameSpriteRecord& f = frameSprite;
  auto hidden = [&] {
    std::lock_guard lock(StageLock());
    return !s->onStage || s->displayState == kStateHidden;
  };
  auto redraw = [&] {
    Rect area;
    {
      std::lock_guard lock(StageLock());
      area = s->DisplayedRect();
    }
    ctx.stage->compositor().Update(area);
  };
  if (f.cycleCentre) {
    r.RaiseEvent(*this, event::kStartPlaying, 0, nullptr);
    if (f.cycleRate != 0) {
      bool go = !f.cycleStartDelay || r.WaitPeriod(f.cycleStartDelay);
      {
        std::lock_guard lock(s->frameLock);
        s->currentFrame = kCentreFrame;
        s->cycleCell = 0;
        s->cycling = true;
      }
      if (go) redraw();
      // Each round's time is counted from the start, so the cells keep pace
      // whatever the drawing costs.
      const int64_t period = std::max<int64_t>(1, 1000 / int64_t(f.cycleRate));
      int64_t next = r.Now() + period;
      while (go && r.playerRunning && running && !r.IsStopRequested()) {
        if (!r.WaitPeriod(next - r.Now())) break;
        next += period;
        if (!running) break;
        bool wrapped = false;
        {
          std::lock_guard lock(s->frameLock);
          const int count = s->CellCount(kCentreFrame);
          if (count == 0) break;
          s->cycleCell = (s->cycleCell + 1) % count;
          s->currentFrame = kCentreFrame;
          if (s->cycleCell == 0 && count > 1) {
            if (f.skipFirstCellOnLoop) s->cycleCell = 1;
            wrapped = true;
          }
        }
        if (wrapped && !hidden()) r.RaiseEvent(*this, event::kSpriteCenterCycling, 0, nullptr);
        redraw();
      }
      r.RaiseEvent(*this, event::kStopPlaying, 0, nullptr);
    }
  }
  if (f.autoCentre) {
    const bool waited = !f.autoCentreDelay || r.WaitPeriod(f.autoCentreDelay);
    if (waited || !r.IsStopRequested()) {
      {
        std::lock_guard lock(s->frameLock);
        s->currentFrame = kCentreFrame;
        s->cycling = false;
        s->cycleCell = 0;
      }
      if (!hidden()) {
        r.RaiseEvent(*this, event::kSpriteAutoCentered, 0, nullptr);
        redraw();
      }
    }
  }
  std::lock_guard lock(s->frameLock);
  s->cycling = false;
}

}  // namespace kv
