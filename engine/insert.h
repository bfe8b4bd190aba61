// CInsert: the record every step of a script shares (name, rectangle, layer,
// show mode, hotkeys, event handlers, links to its thread copy) and the one
// virtual interface through which the runner, the stage and the extensions
// drive any kind. Every insert kind derives from it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/properties.h"
#include "persist/archive.h"
#include "platform/geometry.h"

namespace kv {

class CFlow;
class Runner;
class CStgDoc;
struct PlayContext;
class ScriptThreadContext;
class StageSprite;

struct Hotkey {
  uint32_t key = 0;
  uint32_t modifiers = 0;
  friend bool operator==(const Hotkey&, const Hotkey&) = default;
};

namespace run_state {
inline constexpr uint8_t kIdle = 0;
inline constexpr uint8_t kStarted = 1;
inline constexpr uint8_t kPaused = 2;
inline constexpr uint8_t kDisabled = 3;
}  // namespace run_state

namespace show_mode {
inline constexpr int32_t kUnset = -1;
inline constexpr int32_t kShow = 0;
inline constexpr int32_t kShowAndPlay = 1;
inline constexpr int32_t kPlayWhenReady = 2;
inline constexpr int32_t kShowAndPlayWhenReady = 3;
inline constexpr int32_t kHeld = 4;
inline constexpr int32_t kThreaded = 5;
}  // namespace show_mode

// `flags` bit: the insert is disabled.
inline constexpr uint16_t kInsertFlagDisabled = 4;
// `handlerCount` is one byte.
inline constexpr size_t kMaxHandlers = 255;

class CInsert : public CObject, public std::enable_shared_from_this<CInsert> {
  KV_DECLARE_CLASS(CInsert)
 public:
  static constexpr uint16_t kNewestVersion = 5;

  CInsert();
  ~CInsert() override;
  CInsert(const CInsert&) = delete;
  CInsert& operator=(const CInsert&) = delete;

  // The common record, in declaration order.
  uint16_t loadedVersion = 0;
  uint32_t createdTime = 0;
  std::vector<Hotkey> hotkeys;  // hotkeyCount is its size
  CStgDoc* document = nullptr;  // borrowed: the document outlives its inserts
  uint32_t active = 0;
  uint32_t auxValue = 0;
  uint32_t delayMs = 0;
  std::string comment;
  std::string name;
  // What a new object starts with; a copy made while playing keeps it.
  static constexpr uint8_t kNewEditorFlag = 0;
  uint8_t editorFlag = kNewEditorFlag;
  uint8_t threaded = 0;
  uint8_t auxByte = 0;
  uint8_t armed = 0;
  std::vector<std::shared_ptr<CFlow>> handlers;  // handlerCount is its size
  int32_t runMode = 0;
  uint8_t runState = run_state::kIdle;
  uint8_t layer = 0;
  std::weak_ptr<ScriptThreadContext> thread;
  int32_t showMode = show_mode::kUnset;
  Rect rect;
  std::weak_ptr<CInsert> clone;
  std::weak_ptr<CInsert> source;
  std::weak_ptr<CInsert> primary;  // empty: the insert itself
  std::atomic<int32_t> playRequested{0};
  std::string auxText1;
  std::string auxText2;
  uint16_t flags = 0;
  uint16_t auxWord = 0;
  uint32_t auxLong = 0;
  std::atomic<int32_t> running{0};

 private:
  bool fieldsAsMade_ = false;

 public:
  // The stored fields, once; see persist/field_walk.h.
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;

  // Virtual interface; the bodies here are the answers of a kind that does
  // not override them.
  virtual bool HasHotkey(uint32_t key, uint32_t modifiers) const;
  virtual void OnHotkey(PlayContext& /*ctx*/, uint32_t /*key*/, uint32_t /*modifiers*/, int /*phase*/) {}
  virtual void GetPropertyText(int /*index*/, std::string& /*text*/, int& /*type*/) {}
  virtual void SetFileName(const std::string& /*text*/) {}
  virtual int SetPropertyText(PlayContext& /*ctx*/, int /*index*/, const std::string& /*text*/) { return 1; }
  virtual bool HasContent() const { return false; }
  virtual bool HasContentAlias() const { return HasContent(); }
  virtual void SetContentText(PlayContext& /*ctx*/, const std::string& /*text*/) {}
  // A new object of the same kind with CopyFrom(*this). A copy made while
  // the player runs keeps its own editor flag, as do its handlers' copies.
  std::shared_ptr<CInsert> Clone(bool whilePlaying) const;
  // Back to the flag a new object has, here and in the copies this one owns.
  virtual void KeepNewEditorFlags();
  virtual void Reset();
  // Reset on an object its constructor has only just made (every insert a
  // load creates): the same values, without assigning again the fields the
  // constructor gave just those values.
  void ResetMade();
  // True while ResetMade runs: each class part's field reset has nothing to do.
  bool FieldsAsMade() const { return fieldsAsMade_; }
  // Copies every stored field except auxByte; hotkeys deep; the handlers are
  // replaced by clones owned by this insert. Kinds extend it with their own
  // fields; `other` is always of this insert's own class.
  virtual void CopyFrom(const CInsert& other);
  virtual void SetParameterText(PlayContext& /*ctx*/, const std::string& /*text*/) {}
  virtual void SetRect(int32_t left, int32_t top, int32_t right, int32_t bottom);
  virtual void MoveTo(PlayContext& ctx, int32_t left, int32_t top, int32_t right, int32_t bottom, bool redraw);
  // Adds the event codes this kind raises (for the editor).
  virtual void ListEvents(std::vector<uint32_t>& /*events*/) const {}
  virtual void ResetRunValues() {}
  virtual void Prepare(PlayContext& /*ctx*/) {}
  virtual void OnEnable(PlayContext& /*ctx*/) {}
  virtual void OnDisable(PlayContext& /*ctx*/) {}
  virtual void SimulateClick(PlayContext& /*ctx*/) {}
  virtual void Hide(PlayContext& /*ctx*/) {}
  virtual void Stop(PlayContext& ctx) { Hide(ctx); }
  virtual void SetLayer(uint8_t value) { layer = value; }
  // Whether the kind lives in a native widget (from the kinds table).
  bool IsWindowBased() const;
  virtual void HandleStageEvent(PlayContext& /*ctx*/, uint32_t /*eventCode*/) {}
  virtual void TakeOffStage(PlayContext& /*ctx*/) {}
  virtual void ShowOnStage(PlayContext& /*ctx*/) {}
  virtual void HideOnStage(PlayContext& /*ctx*/) {}
  // How error reports name the insert: its name, or its position in `script`.
  virtual std::string DescribeLocation(const CStgDoc* script, bool withScript, bool withKind) const;
  virtual bool IsShown() const { return false; }
  virtual bool IsActive() const { return active != 0 && runState != run_state::kDisabled; }
  virtual bool CanPlay() const;
  virtual bool IsPlaying() const { return false; }
  virtual bool IsPaused() const { return runState == run_state::kPaused; }
  virtual int32_t GetShownSignal() const { return 1; }
  virtual void SetShownSignal(int32_t) {}
  virtual std::string GetKindName() const;
  virtual std::string GetName() const { return name; }
  virtual std::string GetDescription();
  virtual int GetKindId() const;
  virtual int GetContainerKind() const;
  virtual std::string GetParameterText() const { return {}; }
  virtual std::string GetFileName() const { return {}; }
  virtual Rect GetRect() const { return rect; }
  virtual Rect GetStageRect() const { return rect; }
  void GetRectCopy(Rect& out) const { out = GetStageRect(); }
  virtual void GetSize(int32_t& width, int32_t& height) const;
  // The far edges stop at the int limit: an object placed near it by a
  // script must not wrap round to the other side of the stage.
  void SetSize(int32_t width, int32_t height) {
    SetRect(rect.left, rect.top, ClampToInt(int64_t(rect.left) + width), ClampToInt(int64_t(rect.top) + height));
  }
  void ResizeTo(PlayContext& ctx, int32_t width, int32_t height) {
    MoveTo(ctx, rect.left, rect.top, ClampToInt(int64_t(rect.left) + width), ClampToInt(int64_t(rect.top) + height), true);
  }
  // The base run records the mode and succeeds. Behaviour receives the
  // run: `Run` its runner (which carries the run's context), every other
  // entry point the context itself.
  virtual int Run(Runner& runner, int32_t mode);
  virtual bool TryStagePlay(PlayContext& /*ctx*/) { return false; }
  virtual bool ClearArmed();
  virtual bool WantsOwnThread(PlayContext& /*ctx*/) const { return false; }
  // Stores the code in the handler and appends it. A 256th handler is
  // refused (answers 0): the stored count is one byte.
  virtual int AddHandler(uint32_t eventCode, std::shared_ptr<CFlow> handler);
  virtual void SetRunState(uint8_t value) { runState = value; }
  // The sprite while the insert has one.
  virtual StageSprite* GetSprite() { return nullptr; }
  virtual int GetCategory() const;
  virtual bool GetNaturalSize(int32_t& width, int32_t& height);
  // Scriptable properties by id (engine/properties.h): the kind's answer,
  // or none when the kind keeps no such property.
  virtual PropertyAnswer GetProperty(Property /*id*/) const { return std::nullopt; }
  // False when the kind keeps no such property (or the value's type is not
  // the property's).
  virtual bool SetProperty(PlayContext& /*ctx*/, Property /*id*/, const PropertyValue& /*value*/) { return false; }
  virtual void ChangeContent(PlayContext& /*ctx*/, const std::string&) {}
  // The orientation of a 3D object, in degrees about X, Y and Z; the spin
  // adds a step every `periodMs`. Other kinds have none.
  virtual void Rotate(PlayContext& /*ctx*/, int32_t /*dx*/, int32_t /*dy*/, int32_t /*dz*/) {}
  virtual void RotateAbsolute(PlayContext& /*ctx*/, int32_t /*x*/, int32_t /*y*/, int32_t /*z*/) {}
  virtual void GetRotateInfo(int32_t& x, int32_t& y, int32_t& z) const { x = y = z = 0; }
  virtual void Spin(PlayContext& /*ctx*/, int32_t /*dx*/, int32_t /*dy*/, int32_t /*dz*/, uint32_t /*periodMs*/) {}
  // Redraws the insert's area on the stage; false without a sprite.
  virtual bool Invalidate(PlayContext& /*ctx*/) { return false; }
  // Hide, then the area redrawn.
  void HideAndRedraw(PlayContext& ctx) {
    auto keep = weak_from_this().lock();
    Hide(ctx);
    if (keep) Invalidate(ctx);
  }

  // Pausing gates the insert's thread at its next pump.
  virtual void Pause(PlayContext& ctx);
  virtual void Resume(PlayContext& ctx);

  // Shared helpers that raise events; the runner is the run's.
  void Enable(Runner& runner);
  void Disable(Runner& runner);
  void ShowInsert(Runner& runner);
  void HideInsert(Runner& runner);
  void PauseInsert(Runner& runner);
  void ResumeInsert(Runner& runner);
  void StopIfPlaying(PlayContext& ctx);
  void PreloadCopy(Runner& runner);

  // Shared helpers.
  // The first handler answering `eventCode`; it records this insert as its owner.
  std::shared_ptr<CFlow> FindHandler(uint32_t eventCode);
  void RemoveHandlers(uint32_t eventCode);
  // The insert that receives requests (itself unless set).
  std::shared_ptr<CInsert> GetPrimary();
  // Stores `running`, on the source of a copy too while it lives.
  void SetRunning(int32_t value);

 protected:
  // The kind-specific half of a copy: `other` cast to the caller's class.
  template <class T>
  static const T& Same(const CInsert& other) {
    return dynamic_cast<const T&>(other);
  }
};

using InsertPtr = std::shared_ptr<CInsert>;

// The object as a T when it is one: the class registry's chain, which is
// cheaper than dynamic_cast on the paths every insert takes.
template <class T>
T* As(CObject* object) {
  return object && object->IsKindOf(T::StaticClass()) ? static_cast<T*>(object) : nullptr;
}

// The current time as stored in createdTime.
uint32_t CurrentTime32();

}  // namespace kv
