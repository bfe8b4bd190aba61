#include "ext/dll_insert.h"

#include "engine/play_context.h"

#include <cstring>
#include <filesystem>

#include "engine/events.h"
#include "engine/run_error.h"
#include "engine/runner.h"
#include "engine/strings.h"
#include "ext/extension_call.h"
#include "ext/extension_callbacks.h"
#include "ext/extension_guard.h"
#include "ext/extension_library.h"
#include "persist/field_walk.h"
#include "persist/project_session.h"
#include "platform/settings.h"

namespace kv {

KV_IMPLEMENT_CLASS(ScDLL, CVisibleInsert, 0)

void ScDLL::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
}

void ScDLL::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<ScDLL>(other));
}

template <class W>
void ScDLL::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  w.Version("dllVersion", dllVersion, 1, 1, "ScDLL");
  w("dllPath", dllPath);
  w("secondText", secondText);
  w("thirdText", thirdText);
  w("procedureName", procedureName);
  // The entries live in arrays of 32; a larger count would run past them.
  w.Counted("entries", entryCount, kMaxEntries, [&](size_t i) {
    w("typeCode", typeCodes[i]);
    w("text", texts[i]);
    w("source", sources[i]);
  });
  w("extensionMode", extensionMode);
}

KV_FIELD_WALK_IO(ScDLL)

}  // namespace kv

// ---------------------------------------------------------------- behaviour

namespace kv {

namespace {

std::string ProgramFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

}  // namespace

ScDLL::ScDLL() = default;

ScDLL::~ScDLL() = default;

bool ScDLL::LoadLibrary(Runner& runner, bool report) {
  if (library_) return true;
  const std::string stored = runner.ExpandNames(dllPath);
  if (stored.empty()) {
    if (report) throw KVRunException(sid::kNotFound, "no extension library is named");
    return false;
  }
  ExtensionSearch search;
  search.storedName = stored;
  search.namedFile = runner.ResolveFile(stored);
  if (search.namedFile.empty()) search.namedFile = runner.Session().HostPath(stored).value_or(stored);
  search.projectFolder = runner.Session().BaseDir();
  search.extraFolders = SplitExtensionPath(GetSetting("Extensions", "Path", std::string()));
  // Libraries come from the project's folder, the player's and the
  // configured ones: never from a cache of fetched files.
  search.allowedFolders = search.extraFolders;
  search.allowedFolders.push_back(search.projectFolder);
  if (std::string program = ProgramFolder(); !program.empty()) search.allowedFolders.push_back(program);
  FoundLibrary found = FindExtensionLibrary(search);
  if (found.path.empty()) {
    if (report) throw KVRunException(found.errorId, found.detail);
    return false;
  }
  std::string error;
  library_ = ExtensionLibrary::Load(found.path, error);
  if (!library_) {
    if (report) throw KVRunException(sid::kNotValidDll, found.path + ": " + error);
    return false;
  }
  return true;
}

void ScDLL::ResolveObjectEntries() {
  render_ = reinterpret_cast<RenderFn>(library_->Symbol("kvoRender"));
  action_ = reinterpret_cast<ActionFn>(library_->Symbol("kvoAction"));
}

void ScDLL::CallProcedure(Runner& runner) {
  LoadLibrary(runner, true);
  void* procedure = library_->Symbol(procedureName);
  if (IsExtensionObject()) ResolveObjectEntries();
  if (!procedure) {
    library_.reset();
    throw KVRunException(sid::kProcedureNotFound, procedureName);
  }
  CallingObjectScope self(shared_from_this());
  CallExtensionProcedure(runner.variables(), *this, reinterpret_cast<ExtensionProcedure>(procedure));
}

void ScDLL::CallReported(Runner& runner) {
  try {
    CallProcedure(runner);
  } catch (const KVRunException& e) {
    runner.ReportRunError(this, e.id, e.Detail());
  } catch (const std::exception& e) {
    // A C++ exception thrown through the procedure.
    runner.ReportRunError(this, sid::kObjectCrashed, e.what());
  }
}

int ScDLL::Run(Runner& runner, int32_t mode) {
  if (IsExtensionObject()) return CVisibleInsert::Run(runner, mode);
  // A held call waits for a play request, which runs the insert again.
  if (showMode == show_mode::kHeld) {
    showMode = show_mode::kShowAndPlay;
    return 1;
  }
  CVisibleInsert::Run(runner, mode);
  if (runner.IsStopRequested() || runner.shuttingDown) return 1;
  runner.RaiseEvent(*this, event::kStartPlaying, 0, nullptr);
  CallReported(runner);
  // A stop or an abort asked for during the call ends the insert here.
  if (runner.IsStopRequested() || runner.shuttingDown) return 1;
  runner.RaiseEvent(*this, event::kStopPlaying, 0, nullptr);
  return 1;
}

void ScDLL::PutOnStage(PlayContext& ctx) {
  Runner* runner = &ctx.runner;
  if (!IsExtensionObject()) return;
  // The configured procedure is the object's initialisation, before it shows.
  if (!procedureName.empty()) CallReported(*runner);
  else try {
      if (LoadLibrary(*runner, true)) ResolveObjectEntries();
    } catch (const KVRunException& e) {
      runner->ReportRunError(this, e.id, e.Detail());
    }
  if (runner->IsStopRequested() || runner->shuttingDown) return;
  CVisibleInsert::PutOnStage(ctx);
}

void ScDLL::PlayOnStage(PlayContext& ctx) {
  Runner* runner = &ctx.runner;
  if (!IsExtensionObject()) return;
  if (path) CVisibleInsert::PlayOnStage(ctx);
  if (!ctx.stage || !GetSprite() || !library_) return;
  if (!animateLooked_) {
    animate_ = reinterpret_cast<AnimateFn>(library_->Symbol("kvoAnimate"));
    animateLooked_ = true;
  }
  if (!animate_) return;
  runner->RaiseEvent(*this, event::kStartPlaying, 0, nullptr);
  std::string fault;
  {
    CallingObjectScope self(shared_from_this());
    CallCatchingFaults([this] { animate_(); }, fault);
  }  // a fault ends only this step
  if (runner->IsStopRequested() || runner->shuttingDown) return;
  runner->RaiseEvent(*this, event::kStopPlaying, 0, nullptr);
}

void ScDLL::Hide(PlayContext& ctx) {
  TakeOffAndDropSprite(ctx);
  // The process keeps the library loaded; the insert lets go of it and
  // looks it up again when it next runs.
  library_.reset();
  animateLooked_ = false;
}

std::unique_ptr<StageSprite> ScDLL::MakeSprite(Stage& s) {
  if (!IsExtensionObject()) return nullptr;
  return MakePaintedSprite(*this, *this, s);
}

void ScDLL::PaintSprite(PlayContext* ctx, StageSprite& sprite, DrawTarget& target, const Rect& clip) {
  // Drawn for a frame with no run (the benchmarks): the rectangle stays undrawn.
  if (!ctx) return;
  Runner* runner = &ctx->runner;
  if (!library_) {
    // Errors were told when the object started; drawing only tries again.
    if (!LoadLibrary(*runner, false)) return;
    ResolveObjectEntries();
  }
  if (!render_ && !action_) ResolveObjectEntries();
  if (!render_) return;  // the object leaves its rectangle undrawn
  const Rect r = sprite.DisplayedRect();
  if (r.Width() <= 0 || r.Height() <= 0) return;
  PixelBuffer& buffer = target.buffer;
  if (canvas_.IsNull() || canvas_.Width() != r.Width() || canvas_.Height() != r.Height() ||
      canvas_.Format() != buffer.Format()) {
    canvas_ = PixelBuffer(r.Width(), r.Height(), buffer.Format());
    if (canvas_.IsNull()) return;
  }
  // The part of the object this draw may touch, in the target's pixels.
  const Rect bufferRect{target.origin.x, target.origin.y, target.origin.x + buffer.Width(),
                        target.origin.y + buffer.Height()};
  const Rect area = r.Intersect(clip).Intersect(bufferRect);
  if (area.Width() <= 0 || area.Height() <= 0) return;
  const int bpp = buffer.BytesPerPixel();
  // The extension draws over what is under the object, as on a back buffer.
  canvas_.Fill(ColorRef(0));
  for (int y = area.top; y < area.bottom; ++y)
    std::memcpy(canvas_.At(area.left - r.left, y - r.top), buffer.At(area.left - target.origin.x, y - target.origin.y),
                size_t(area.Width()) * bpp);
  bitmap_ = kv_Bitmap{canvas_.Data(),
                      canvas_.Width(),
                      canvas_.Height(),
                      int32_t(canvas_.Stride()),
                      canvas_.Format() == PixelFormat::kRgb565 ? KV_BITMAP_RGB565 : KV_BITMAP_XRGB32,
                      r.left,
                      r.top};
  rendered_ = true;
  CallingObjectScope self(shared_from_this());
  std::string fault;
  if (!CallCatchingFaults([&] { render_(&bitmap_, kv_Rect{r.left, r.top, r.right, r.bottom}); }, fault)) {
    render_ = nullptr;  // a drawing that faults is not tried again; the rectangle stays undrawn
    return;
  }
  for (int y = area.top; y < area.bottom; ++y)
    std::memcpy(buffer.At(area.left - target.origin.x, y - target.origin.y), canvas_.At(area.left - r.left, y - r.top),
                size_t(area.Width()) * bpp);
}

void ScDLL::HandleStageEventAt(PlayContext& ctx, uint32_t eventCode, Point at) {
  CVisibleInsert::HandleStageEventAt(ctx, eventCode, at);
  if (!IsExtensionObject() || !action_) return;
  if (ctx.runner.sceneChanging) return;
  CallingObjectScope self(shared_from_this());
  std::string fault;
  CallCatchingFaults([&] { action_(int32_t(eventCode), at.x, at.y, 0); }, fault);
}

}  // namespace kv
