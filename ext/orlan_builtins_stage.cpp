// Builtins that read and drive stage objects: their content, geometry,
// colours and state, and the stage itself. Reads and plain field changes act
// at once; what plays, shows, hides or stops an object goes as a request to
// the thread that serves it, so the object's own thread stays its master.
#include <algorithm>
#include <mutex>
#include <typeinfo>

#include "engine/commands.h"
#include "engine/flow.h"
#include "engine/media_service.h"
#include "engine/runner.h"
#include "ext/basic_insert.h"
#include "ext/orlan_builtins.h"
#include "inserts/ole_control.h"
#include "orlan/automation.h"
#include "inserts/painted_sprite.h"
#include "inserts/stage_host.h"
#include "inserts/visible_insert.h"
#include "persist/document.h"
#include "persist/project_session.h"
#include "platform/picture_bound.h"
#include "stage/locks.h"

namespace kv {

bool PostForObject(BuiltinCall& call, uint16_t code, const std::shared_ptr<CInsert>& object, double number,
                   const std::string* argument) {
  return PostForObject(call.runner, code, object, number, argument);
}

bool PostForObject(Runner& runner, uint16_t code, const std::shared_ptr<CInsert>& object, double number,
                   const std::string* argument) {
  if (!object) return false;
  ScriptThreadContext* target = nullptr;
  switch (code) {
    case command::kResumePausedObject:
    case command::kPauseObject:
    case command::kStopObject:
    case command::kUpdateObject:
    case command::kPrintObjectDomain:
      target = runner.MainThread();
      break;
    default: {
      std::shared_ptr<CInsert> served = object->clone.lock() ? object->clone.lock() : object;
      target = runner.ThreadOf(*served);
      if (!target)
        target = code == command::kPlayObject || code == command::kInitializeObject ? runner.ProjectThread()
                                                                                     : runner.MainThread();
    }
  }
  auto r = std::make_unique<Request>();
  r->code = code;
  r->argument = argument ? *argument : object->name;
  r->source = object;
  r->number = number;
  return runner.PostRequest(target, std::move(r), false);
}

namespace {

using InsertPtrRef = const std::shared_ptr<CInsert>&;

CVisibleInsert* Visible(InsertPtrRef object) { return As<CVisibleInsert>(object.get()); }

// --- object content

void GetText(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  c.args.SetString(0, o ? o->GetParameterText() : std::string());
}

void SetText(BuiltinCall& c) {
  if (auto o = c.ObjectArg(1)) o->SetParameterText(c.runner.Context(), c.args.GetString(2));
}

void GetFilename(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  c.args.SetString(0, o ? o->GetFileName() : std::string());
}

// The content changes on the object's thread, which raises "File Change".
void ChangeFileOf(BuiltinCall& c, InsertPtrRef object, const std::string& file) {
  PostForObject(c, command::kChangeFile, object, 0.0, &file);
}

void SetFilename(BuiltinCall& c) { ChangeFileOf(c, c.ObjectArg(1), c.args.GetString(2)); }

// The second picture (a button's pressed face) is not the content: it is
// replaced where it is kept, without the content's "File Change".
void GetFilename2(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  const PropertyAnswer file = o ? o->GetProperty(Property::kPressedPicture) : std::nullopt;
  const std::string* text = AnswerAs<std::string>(file);
  c.args.SetString(0, text ? *text : std::string());
}

void SetFilename2(BuiltinCall& c) {
  if (auto o = c.ObjectArg(1)) o->SetProperty(c.runner.Context(), Property::kPressedPicture, c.args.GetString(2));
}

std::shared_ptr<CInsert> SoundOf(BuiltinCall& c, InsertPtrRef object) {
  MediaService* media = c.runner.Media();
  return object && media ? media->AttachedSound(*object) : nullptr;
}

void GetSoundFilename(BuiltinCall& c) {
  auto sound = SoundOf(c, c.ObjectArg(1));
  c.args.SetString(0, sound ? sound->GetFileName() : std::string());
}

void SetSoundFilename(BuiltinCall& c) { ChangeFileOf(c, SoundOf(c, c.ObjectArg(1)), c.args.GetString(2)); }

void GetCursorFilename(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  CVisibleInsert* v = Visible(o);
  c.args.SetString(0, v ? v->cursorFile : std::string());
}

void SetCursorFilename(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  if (CVisibleInsert* v = Visible(o)) {
    std::lock_guard lock(v->StageLock());
    v->cursorFile = c.args.GetString(2);
    v->cursorId = kCursorFromFile;
  }
}

// The media strings are the common record's two texts (an ActiveX control's
// value and the property it goes to).
template <std::string CInsert::*Field>
void GetMediaString(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  c.args.SetString(0, o ? (*o).*Field : std::string());
}

template <std::string CInsert::*Field>
void SetMediaString(BuiltinCall& c) {
  if (auto o = c.ObjectArg(1)) (*o).*Field = c.args.GetString(2);
}

void GetComment(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  c.args.SetString(0, o ? o->comment : std::string());
}

void GetName(BuiltinCall& c) {
  auto o = c.Caller() ? c.FindObject({}) : nullptr;
  c.args.SetString(0, o ? o->GetName() : std::string());
}

void SetName(BuiltinCall& c) {
  if (auto o = c.ObjectArg(1)) o->name = c.args.GetString(2);
}

// An alias names the content: changing it changes the content as a file
// change does, for the kinds that have one.
void ChangeAlias(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  if (o && o->HasContentAlias()) ChangeFileOf(c, o, c.args.GetString(2));
}

// The script's object for an ActiveX object's composited control: members
// by name, each call reaching the control the object has at that moment.
class ControlAutomation : public orlan::Automation {
 public:
  explicit ControlAutomation(std::weak_ptr<CInsert> object) : object_(std::move(object)) {}

  void Invoke(const std::string& member, int kind, const orlan::Value* args, int nargs,
              orlan::Value& result) override {
    const std::shared_ptr<CInsert> object = object_.lock();
    auto* ole = object ? As<COleCtl>(object.get()) : nullptr;
    const std::shared_ptr<CompositedControl> control = ole ? ole->Composited() : nullptr;
    if (!control) orlan::Raise(orlan::err::kObjectNotSet, "the control is not on the stage");
    const std::optional<int32_t> id = COleCtl::MemberIdOf(*control, member);
    if (!id) orlan::Raise(orlan::err::kNoSuchMember);
    DispatchValue out;
    DispatchStatus status;
    if (kind == 2) {
      status = control->Put(*id, ToDispatch(args[0]));
    } else if (kind == 0) {
      status = control->Get(*id, out);
      // A method named without arguments where a value is read.
      if (status == DispatchStatus::kUnknownMember) status = control->Call(*id, {});
    } else {
      std::vector<DispatchValue> values;
      for (int i = 0; i < nargs; ++i) values.push_back(ToDispatch(args[i]));
      status = control->Call(*id, values);
      if (status == DispatchStatus::kUnknownMember && nargs == 0) status = control->Get(*id, out);
    }
    switch (status) {
      case DispatchStatus::kOk: break;
      case DispatchStatus::kUnknownMember: orlan::Raise(orlan::err::kNoSuchMember);
      case DispatchStatus::kTypeMismatch: orlan::Raise(orlan::err::kTypeMismatch);
      case DispatchStatus::kFailed: orlan::Raise(orlan::err::kInvalidCall, control->ErrorText());
    }
    result = FromDispatch(out);
  }

 private:
  static DispatchValue ToDispatch(const orlan::Value& v) {
    using orlan::Tag;
    switch (v.tag) {
      case Tag::Empty: return {};
      case Tag::String: return orlan::StrOf(v);
      case Tag::Boolean: return v.i != 0;
      case Tag::Integer:
      case Tag::Long: return v.i;
      default: return orlan::ToDouble(v);
    }
  }
  static orlan::Value FromDispatch(const DispatchValue& v) {
    if (const auto* b = std::get_if<bool>(&v)) return orlan::Value::Bool(*b);
    if (const auto* i = std::get_if<int32_t>(&v)) return orlan::Value::Lng(*i);
    if (const auto* d = std::get_if<double>(&v)) return orlan::Value::Dbl(*d);
    if (const auto* s = std::get_if<std::string>(&v)) return orlan::Value::Str(*s);
    return {};
  }

  std::weak_ptr<CInsert> object_;
};

// An ActiveX object with a composited control hands out the control's
// automation object; the others answer Nothing.
void GetObject(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  auto* ole = o ? As<COleCtl>(o.get()) : nullptr;
  if (ole && ole->Composited()) {
    c.args.Slot(0) = orlan::NewAutomationObject(std::make_shared<ControlAutomation>(o));
    return;
  }
  if (ole && !ole->WidgetType().empty()) {
    c.Fail("kvoGetObject needs the dispatch object of the " + ole->WidgetType() + " control, which this player lacks");
    return;
  }
  c.args.SetObject(0, 0);
}

void Reload(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  if (o) ChangeFileOf(c, o, o->GetFileName());
}

// --- geometry

void ReadRect(orlan::RecordRef r, Rect& out) {
  out = {r.GetLong(0), r.GetLong(1), r.GetLong(2), r.GetLong(3)};
}

void GetPosition(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  orlan::RecordRef r = c.args.GetRecord(2);
  if (!o || !r.valid()) return;  // the rectangle stays as it was
  const Rect at = o->GetStageRect();
  r.SetLong(0, at.left);
  r.SetLong(1, at.top);
  r.SetLong(2, at.right);
  r.SetLong(3, at.bottom);
}

// A self-drawn object's surface is as large as the object: sizes past the
// picture bound are refused before anything is made.
bool SizeAllowed(BuiltinCall& c, const char* builtin, int64_t width, int64_t height) {
  if (WithinPictureBound(width, height)) return true;
  c.Fail(std::string(builtin) + ": an object of " + std::to_string(width) + " x " + std::to_string(height) +
         " pixels is too large (" + PictureBoundText() + ")");
  return false;
}

bool RectAllowed(BuiltinCall& c, const char* builtin, const Rect& r) {
  return SizeAllowed(c, builtin, int64_t(r.right) - r.left, int64_t(r.bottom) - r.top);
}

template <bool Redraw>
void SetPosition(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  orlan::RecordRef r = c.args.GetRecord(2);
  if (!o || !r.valid()) return;
  Rect to;
  ReadRect(r, to);
  if (!RectAllowed(c, Redraw ? "kvoSetPosition" : "kvoSetPositionNoRefresh", to)) return;
  o->MoveTo(c.runner.Context(), to.left, to.top, to.right, to.bottom, Redraw);
}

void SetPositionPoint(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  orlan::RecordRef p = c.args.GetRecord(2);
  if (!o || !p.valid()) return;
  const Rect at = o->GetStageRect();
  const int x = p.GetLong(0), y = p.GetLong(1);
  o->MoveTo(c.runner.Context(), x, y, ClampToInt(int64_t(x) + at.Width()), ClampToInt(int64_t(y) + at.Height()), true);
}

// The move happens at once, redrawn when asked; the time argument is not a
// glide (the player has no timed move for a single rectangle).
void MoveTo(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  orlan::RecordRef r = c.args.GetRecord(2);
  if (!o || !r.valid()) return;
  Rect to;
  ReadRect(r, to);
  if (!RectAllowed(c, "kvoMoveTo", to)) return;
  o->MoveTo(c.runner.Context(), to.left, to.top, to.right, to.bottom, c.args.GetBoolean(4));
}

void FillSize(orlan::RecordRef r, int32_t w, int32_t h) {
  if (!r.valid()) return;
  r.SetLong(0, w);
  r.SetLong(1, h);
}

void GetSize(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  if (!o) return;
  int32_t w = 0, h = 0;
  o->GetSize(w, h);
  FillSize(c.args.GetRecord(2), w, h);
}

// The stored size changes; the object on the stage keeps its own until it
// is shown again.
void SetSize(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  orlan::RecordRef r = c.args.GetRecord(2);
  if (o && r.valid() && SizeAllowed(c, "kvoSetSize", r.GetLong(0), r.GetLong(1))) o->SetSize(r.GetLong(0), r.GetLong(1));
}

void SetCurrentSize(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  orlan::RecordRef r = c.args.GetRecord(2);
  if (o && r.valid() && SizeAllowed(c, "kvoSetCurrentSize", r.GetLong(0), r.GetLong(1)))
    o->ResizeTo(c.runner.Context(), r.GetLong(0), r.GetLong(1));
}

void GetDefaultSize(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  int32_t w = kUnavailable32, h = kUnavailable32;
  if (o && !o->GetNaturalSize(w, h)) w = h = kUnavailable32;
  FillSize(c.args.GetRecord(2), w, h);
}

void GetWidth(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  c.args.SetLong(0, o ? o->GetStageRect().Width() : kUnavailable32);
}

void GetHeight(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  c.args.SetLong(0, o ? o->GetStageRect().Height() : kUnavailable32);
}

void SetWidth(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  if (!o) return;
  const int32_t w = c.args.GetLong(2), h = o->GetStageRect().Height();
  if (SizeAllowed(c, "kvoSetWidth", w, h)) o->ResizeTo(c.runner.Context(), w, h);
}

void SetHeight(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  if (!o) return;
  const int32_t w = o->GetStageRect().Width(), h = c.args.GetLong(2);
  if (SizeAllowed(c, "kvoSetHeight", w, h)) o->ResizeTo(c.runner.Context(), w, h);
}

void GetZorder(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  c.args.SetLong(0, o ? o->layer : kUnavailable32);
}

// Layers are one byte; the sprite takes its new place in the drawing order.
void SetZorder(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  if (!o) return;
  const auto layer = static_cast<uint8_t>(std::clamp<int32_t>(c.args.GetLong(2), 0, 255));
  o->SetLayer(layer);
  if (StageSprite* sprite = o->GetSprite()) {
    {
      std::lock_guard lock(sprite->Lock());
      sprite->SetLayer(layer, true);
    }
    o->Invalidate(c.runner.Context());
  }
}

// --- 3D objects: every other kind answers an orientation of 0, 0, 0 and
// ignores the rest.

void Spin(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  if (!o) return;
  // A negative period stops the spin rather than wrapping to a long one.
  const int32_t period = std::max<int32_t>(0, c.args.GetInteger(5));
  o->Spin(c.runner.Context(), c.args.GetInteger(2), c.args.GetInteger(3), c.args.GetInteger(4), uint32_t(period));
}

void RotateAbsolute(BuiltinCall& c) {
  if (auto o = c.ObjectArg(1)) o->RotateAbsolute(c.runner.Context(), c.args.GetInteger(2), c.args.GetInteger(3), c.args.GetInteger(4));
}

void GetRotateInfo(BuiltinCall& c) {
  int32_t x = 0, y = 0, z = 0;
  if (auto o = c.ObjectArg(1)) o->GetRotateInfo(x, y, z);
  c.args.SetInteger(2, int16_t(x));
  c.args.SetInteger(3, int16_t(y));
  c.args.SetInteger(4, int16_t(z));
}

// --- colours

// kvcolor fields are 16-bit; a channel outside 0..255 is clamped.
ColorRef ColorOf(orlan::RecordRef r) {
  auto channel = [&](int f) { return static_cast<uint8_t>(std::clamp<int>(r.GetInteger(f), 0, 255)); };
  return ColorRef::FromRgb(channel(0), channel(1), channel(2));
}

// A kind that keeps no such colour answers the not-available value.
template <Property P>
void GetColor(BuiltinCall& c) {
  orlan::RecordRef r = c.args.GetRecord(2);
  if (!r.valid()) return;
  auto o = c.ObjectArg(1);
  const PropertyAnswer answer = o ? o->GetProperty(P) : std::nullopt;
  const ColorRef* color = AnswerAs<ColorRef>(answer);
  if (!color) {
    for (int f = 0; f < 3; ++f) r.SetInteger(f, kUnavailable16);
    return;
  }
  r.SetInteger(0, color->Red());
  r.SetInteger(1, color->Green());
  r.SetInteger(2, color->Blue());
}

// The object is redrawn with its new colour.
template <Property P>
void SetColor(BuiltinCall& c) {
  orlan::RecordRef r = c.args.GetRecord(2);
  auto o = c.ObjectArg(1);
  if (!o || !r.valid()) return;
  bool kept;
  {
    // What the object's drawing reads changes under its stage's lock.
    CVisibleInsert* v = Visible(o);
    std::lock_guard lock(v ? v->StageLock() : StageCompositor().Lock());
    kept = o->SetProperty(c.runner.Context(), P, ColorOf(r));
  }
  if (kept) RedrawNow(o->GetSprite());
}

void GetTextFontSize(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  const PropertyAnswer answer = o ? o->GetProperty(Property::kTextFontSize) : std::nullopt;
  const double* points = AnswerAs<double>(answer);
  c.args.SetLong(0, !points || *points < 0 ? kUnavailable32 : static_cast<int32_t>(*points));
}

void SetTextFontSize(BuiltinCall& c) {
  if (auto o = c.ObjectArg(1)) o->SetProperty(c.runner.Context(), Property::kTextFontSize, static_cast<double>(c.args.GetLong(2)));
}

// --- object state

// The request commands that need nothing but the object.
template <uint16_t Code>
void PostObject(BuiltinCall& c) {
  if (!c.runner.playerRunning || c.runner.shuttingDown) return;
  PostForObject(c, Code, c.ObjectArg(1));
}

// Printing runs on the main thread, which owns the stage window.
void PrintStage(BuiltinCall& c) {
  if (!c.runner.playerRunning || c.runner.shuttingDown) return;
  c.Post(c.runner.MainThread(), command::kPrintStage, {}, nullptr);
}

void Play(BuiltinCall& c) {
  if (!c.runner.playerRunning || c.runner.shuttingDown) return;
  if (auto o = c.ObjectArg(1)) {
    o->playRequested.exchange(1);
    PostForObject(c, command::kPlayObject, o);
  }
}

// Run on the object's own thread (or for an object without one): off its
// motion path, onto the stage (or played), and the path given back.
void PutOnStage(BuiltinCall& c) {
  auto o = c.FindObject(c.args.Count() >= 1 ? c.args.GetString(1) : std::string());
  CVisibleInsert* v = Visible(o);
  if (!v) return;
  ScriptThreadContext* own = c.runner.ThreadOf(*o);
  if (own && own != ScriptThreadContext::Current()) return;
  std::unique_ptr<MotionPath> path = std::move(v->path);
  if (own) {
    v->PutOnStage(c.runner.Context());
  } else if (o->CanPlay() && !c.runner.IsStopRequested()) {
    // Played in a thread of its own, the object's copy may run handlers of
    // this script before it shows, while this call waits for it to show.
    orlan::Thread::Unlock unlock(c.thread);
    c.runner.PlayInsert(o, run_mode::kHandler, play_option::kOnlyActive | play_option::kSkipDisabled);
  }
  if (!v->path) v->path = std::move(path);
}

void TakeOffStage(BuiltinCall& c) {
  if (auto o = c.ObjectArg(1)) o->TakeOffStage(c.runner.Context());
}

void Refresh(BuiltinCall& c) {
  if (auto o = c.ObjectArg(1)) o->Invalidate(c.runner.Context());
}

// Serves the requests already waiting for the object's thread: on the
// calling thread by serving them here, on another by waiting until its queue
// has drained (or the script is told to stop).
void WaitForPriorRequests(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  ScriptThreadContext* target = o ? c.runner.ThreadOf(*o) : nullptr;
  if (!target) target = c.runner.MainThread();
  if (!target) return;
  orlan::Thread::Unlock unlock(c.thread);
  ScriptThreadContext* self = ScriptThreadContext::Current();
  while (!target->port.Empty() && !target->done && !c.runner.shuttingDown && !c.runner.IsStopRequested() &&
         !c.thread.StopRequested()) {
    if (target != self) {
      if (!c.runner.WaitPeriod(1, true)) break;
      continue;
    }
    // What is queued here is served now; the stop key met on the way stops
    // the script, as it would at the next yield.
    Message m = c.runner.PumpMessage(true, c.runner.clock().NowMs());
    if (!m) break;
    if (m.IsKeyDown() && m.key == c.runner.stopKey) {
      c.StopScript();
      break;
    }
  }
}

// Deleting takes the object off the stage and out of play: it stays in its
// script (which belongs to the project document) but is no longer active.
void Delete(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  if (!o) return;
  PostForObject(c, command::kRemoveObject, o);
  o->active = 0;
}

// A copy of the object under a new name, a member of a script from now on
// (until the script is unloaded). Null when the source is unknown.
std::shared_ptr<CInsert> NamedCopy(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  if (!o) return nullptr;
  std::shared_ptr<CInsert> copy = o->Clone(c.runner.Session().play().IsPlaying());
  copy->name = c.args.GetString(2);
  return copy;
}

// The copy joins the script the calling thread runs; the thread is inside
// this call, so its walk over the script cannot be disturbed.
void Clone(BuiltinCall& c) {
  ScriptThreadContext* self = ScriptThreadContext::Current();
  if (!self || !self->currentScript) return;
  if (auto copy = NamedCopy(c)) self->currentScript->items.push_back(std::move(copy));
}

// Into a named script: appended there at once by a transient command 63
// whose owner is the copy (a posted request would hold the copy only weakly,
// and nothing else holds it yet), then the script written back to its file
// by a request 60 to the calling thread.
void CloneToScript(BuiltinCall& c) {
  auto copy = NamedCopy(c);
  ScriptThreadContext* self = ScriptThreadContext::Current();
  if (!copy || !self) return;
  const std::string script = c.args.GetString(3);
  auto append = std::make_shared<CFlow>();
  append->command = command::kAppendToScript;
  append->argument = script;
  append->active = 1;
  append->owner = copy;
  append->thread = self->shared_from_this();
  int appended = 0;
  {
    orlan::Thread::Unlock unlock(c.thread);
    appended = c.runner.RunGuarded(append, run_mode::kHandler);
  }
  if (appended) c.Post(self, command::kWriteScript, script, copy);
}

}  // namespace

// Makes what a thread copy has become the state of the object it copies, so
// the object plays so from then on. CopyFrom alone would also give the
// object clones of the copy's handlers and drop its own request links:
// everything that makes the object itself, not its stored state, is kept.
void KeepStateOf(CInsert& original, const CInsert& copy, bool whilePlaying) {
  std::vector<std::shared_ptr<CFlow>> handlers = std::move(original.handlers);
  const std::weak_ptr<CInsert> primary = original.primary, clone = original.clone, source = original.source;
  const std::weak_ptr<ScriptThreadContext> thread = original.thread;
  CStgDoc* const document = original.document;
  const uint8_t runState = original.runState;
  const uint8_t editorFlag = original.editorFlag;
  const int32_t running = original.running.load(), playRequested = original.playRequested.load();
  auto* visible = dynamic_cast<CVisibleInsert*>(&original);
  const int32_t holdPending = visible ? visible->holdPending : 0;
  const int32_t waitingForScene = visible ? visible->waitingForScene : 0;
  original.CopyFrom(copy);
  if (whilePlaying) original.editorFlag = editorFlag;
  original.handlers = std::move(handlers);
  original.primary = primary;
  original.clone = clone;
  original.source = source;
  original.thread = thread;
  original.document = document;
  original.runState = runState;
  original.running = running;
  original.playRequested = playRequested;
  if (visible) {
    visible->holdPending = holdPending;
    visible->waitingForScene = waitingForScene;
  }
}

namespace {

// An object playing on its own thread plays a copy, which a script reaches
// by the object's name or as THIS in an event the copy raised; what it
// changes there ends with the copy unless it is kept. An object that is not
// a copy is left alone: its changes are its own already.
void PermObject(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  if (!o) return;
  auto original = o->source.lock();
  if (!original || original == o || typeid(*original) != typeid(*o)) return;
  KeepStateOf(*original, *o, c.runner.Session().play().IsPlaying());
}

// Design mode belongs to the authoring tool; the player has none to enter.
void SetDesignMode(BuiltinCall&) {}

template <bool Show>
void GetEffect(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  CVisibleInsert* v = Visible(o);
  c.args.SetInteger(0, v ? static_cast<int16_t>(Show ? v->showEffect : v->hideEffect) : kUnavailable16);
}

template <bool Show>
void SetEffect(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  if (CVisibleInsert* v = Visible(o)) (Show ? v->showEffect : v->hideEffect) = static_cast<uint16_t>(c.args.GetInteger(2));
}

// --- the stage

Stage* StageOf(BuiltinCall& c) { return c.runner.Context().stage; }

void GetStageSize(BuiltinCall& c) {
  orlan::RecordRef r = c.args.GetRecord(1);
  Stage* stage = StageOf(c);
  if (!stage || !r.valid()) return;
  const Rect frame = stage->Window().frame;
  FillSize(r, frame.Width(), frame.Height());
}

// The window shows the stage at the frame's size: as bounded as the stage.
bool StageSizeAllowed(BuiltinCall& c, const Stage& stage, const char* builtin, int64_t width, int64_t height) {
  const int64_t bound = stage.settings().maxPixels;
  if (WithinPictureBound(width, height, bound)) return true;
  c.Fail(std::string(builtin) + ": a stage of " + std::to_string(width) + " x " + std::to_string(height) +
         " pixels is too large (" + PictureBoundText(bound) + ")");
  return false;
}

void SetStageSize(BuiltinCall& c) {
  orlan::RecordRef r = c.args.GetRecord(1);
  Stage* stage = StageOf(c);
  if (!stage || !r.valid()) return;
  const int32_t width = std::max(0, r.GetLong(0)), height = std::max(0, r.GetLong(1));
  if (!StageSizeAllowed(c, *stage, "kvSetStageSize", width, height)) return;
  StageWindowState w = stage->Window();
  w.frame.right = w.frame.left + width;
  w.frame.bottom = w.frame.top + height;
  stage->SetWindow(w);
}

void GetStagePosition(BuiltinCall& c) {
  orlan::RecordRef r = c.args.GetRecord(1);
  Stage* stage = StageOf(c);
  if (!stage || !r.valid()) return;
  const Rect frame = stage->Window().frame;
  r.SetLong(0, frame.left);
  r.SetLong(1, frame.top);
  r.SetLong(2, frame.right);
  r.SetLong(3, frame.bottom);
}

void SetStagePosition(BuiltinCall& c) {
  orlan::RecordRef r = c.args.GetRecord(1);
  Stage* stage = StageOf(c);
  if (!stage || !r.valid()) return;
  StageWindowState w = stage->Window();
  ReadRect(r, w.frame);
  if (!StageSizeAllowed(c, *stage, "kvSetStagePosition", int64_t(w.frame.right) - w.frame.left,
                        int64_t(w.frame.bottom) - w.frame.top))
    return;
  stage->SetWindow(w);
}

template <bool Maximize>
void SizeStage(BuiltinCall& c) {
  Stage* stage = StageOf(c);
  if (!stage) return;
  StageWindowState w = stage->Window();
  w.maximized = Maximize;
  w.minimized = !Maximize;
  stage->SetWindow(w);
}

void SetRedraw(BuiltinCall& c) {
  if (Stage* stage = StageOf(c)) stage->compositor().SuspendDrawing(!c.args.GetBoolean(1));
}

// Only the stage's own window is known to the player by its title.
void PositionWindow(BuiltinCall& c) {
  Stage* stage = StageOf(c);
  if (!stage || c.args.GetString(1) != stage->settings().caption) return;
  StageWindowState w = stage->Window();
  w.frame = {c.args.GetLong(2), c.args.GetLong(3), c.args.GetLong(4), c.args.GetLong(5)};
  stage->SetWindow(w);
}

}  // namespace

void InstallStageBuiltins(BuiltinTable& table) {
  // Object content.
  table.Set(12, GetText);
  table.Set(13, SetText);
  table.Set(14, GetFilename);
  table.Set(15, SetFilename);
  table.Set(127, GetFilename2);
  table.Set(128, SetFilename2);
  table.Set(133, GetSoundFilename);
  table.Set(134, SetSoundFilename);
  table.Set(135, GetCursorFilename);
  table.Set(136, SetCursorFilename);
  table.Set(122, GetMediaString<&CInsert::auxText1>);
  table.Set(123, SetMediaString<&CInsert::auxText1>);
  table.Set(124, GetMediaString<&CInsert::auxText2>);
  table.Set(125, SetMediaString<&CInsert::auxText2>);
  table.Set(132, GetComment);
  table.Set(23, GetName);
  table.Set(145, SetName);
  table.Set(50, ChangeAlias);
  table.Set(42, GetObject);
  table.Set(129, Reload);
  // Geometry.
  table.Set(16, GetPosition);
  table.Set(17, SetPosition<true>);
  table.Set(149, SetPosition<false>);
  table.Set(47, SetPositionPoint);
  table.Set(46, MoveTo);
  table.Set(27, GetSize);
  table.Set(28, SetSize);
  table.Set(29, SetCurrentSize);
  table.Set(95, GetDefaultSize);
  table.Set(62, GetWidth);
  table.Set(63, GetHeight);
  table.Set(48, SetWidth);
  table.Set(49, SetHeight);
  table.Set(18, GetZorder);
  table.Set(19, SetZorder);
  table.Set(88, Spin);
  table.Set(89, RotateAbsolute);
  table.Set(90, GetRotateInfo);
  // Colours.
  table.Set(51, SetColor<Property::kForegroundColor>);
  table.Set(52, SetColor<Property::kShadowColor>);
  table.Set(53, SetColor<Property::kBackgroundColor>);
  table.Set(54, SetColor<Property::kLineColor>);
  table.Set(55, SetColor<Property::kHighlightColor>);
  table.Set(79, SetColor<Property::kTextColor>);
  table.Set(80, SetColor<Property::kTextShadowColor>);
  table.Set(81, SetColor<Property::kFaceColor>);
  table.Set(131, SetColor<Property::kTransparentColor>);
  table.Set(64, GetColor<Property::kForegroundColor>);
  table.Set(65, GetColor<Property::kShadowColor>);
  table.Set(66, GetColor<Property::kBackgroundColor>);
  table.Set(67, GetColor<Property::kLineColor>);
  table.Set(68, GetColor<Property::kHighlightColor>);
  table.Set(82, GetColor<Property::kTextColor>);
  table.Set(83, GetColor<Property::kTextShadowColor>);
  table.Set(84, GetColor<Property::kFaceColor>);
  table.Set(130, GetColor<Property::kTransparentColor>);
  table.Set(118, GetTextFontSize);
  table.Set(119, SetTextFontSize);
  // Object state.
  table.Set(20, PostObject<command::kUpdateObject>);
  table.Set(21, PutOnStage);
  table.Set(22, TakeOffStage);
  table.Set(35, PostObject<command::kShowHiddenObject>);
  table.Set(36, PostObject<command::kHideObject>);
  table.Set(37, PostObject<command::kDisableObject>);
  table.Set(38, PostObject<command::kEnableObject>);
  table.Set(39, PostObject<command::kRemoveObject>);
  table.Set(40, Refresh);
  table.Set(41, PostObject<command::kClickObject>);
  table.Set(74, Play);
  table.Set(93, PostObject<command::kStopObject>);
  table.Set(75, PostObject<command::kPauseObject>);
  table.Set(76, PostObject<command::kResumePausedObject>);
  table.Set(77, PostObject<command::kInitializeObject>);
  // A kind that wants a thread of its own gets one when played.
  table.Set(104, Play);
  table.Set(158, WaitForPriorRequests);
  table.Set(78, Clone);
  table.Set(117, CloneToScript);
  table.Set(85, Delete);
  table.Set(139, PermObject);
  table.Set(94, SetDesignMode);
  table.Set(100, GetEffect<true>);
  table.Set(102, GetEffect<false>);
  table.Set(101, SetEffect<true>);
  table.Set(103, SetEffect<false>);
  // The stage.
  table.Set(30, GetStageSize);
  table.Set(31, SetStageSize);
  table.Set(32, SizeStage<true>);
  table.Set(166, SizeStage<false>);
  table.Set(33, GetStagePosition);
  table.Set(34, SetStagePosition);
  table.Set(61, SetRedraw);
  table.Set(98, PrintStage);
  table.Set(99, PostObject<command::kPrintObjectDomain>);
  table.Set(143, PositionWindow);
}

}  // namespace kv
