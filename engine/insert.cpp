#include "engine/insert.h"

#include <algorithm>
#include <ctime>

#include "engine/flow.h"
#include "engine/kinds.h"
#include "engine/strings.h"
#include "persist/document.h"
#include "persist/field_walk.h"
#include "platform/log.h"
#include "platform/string_table.h"

namespace kv {

KV_IMPLEMENT_CLASS(CInsert, CObject, 0)

uint32_t CurrentTime32() { return static_cast<uint32_t>(std::time(nullptr)); }

CInsert::CInsert() : createdTime(CurrentTime32()) {}

CInsert::~CInsert() {
  // A copy clears its source's link to it; a source clears its copy's link back.
  if (auto s = source.lock()) {
    s->clone.reset();
  } else if (auto c = clone.lock()) {
    c->source.reset();
  }
}

void CInsert::Reset() {
  createdTime = CurrentTime32();
  hotkeys.clear();
  active = 0;
  auxValue = 0;
  delayMs = 0;
  comment.clear();
  name.clear();
  editorFlag = 1;
  threaded = 0;
  auxByte = 0;
  armed = 1;
  runState = run_state::kIdle;
  layer = 127;
  showMode = show_mode::kShowAndPlay;
  rect = {0, 0, 64, 64};
  auxText1.clear();
  auxText2.clear();
  flags = 0;
  auxWord = 0;
  auxLong = 0;
}

void CInsert::ResetMade() {
  struct Scope {
    bool& flag;
    explicit Scope(bool& f) : flag(f) { flag = true; }
    ~Scope() { flag = false; }
  } scope(fieldsAsMade_);
  Reset();
}

template <class W>
void CInsert::Walk(W& w) {
  const uint16_t version = w.Version("loadedVersion", loadedVersion, kNewestVersion, 1, "CInsert");
  if constexpr (W::kArchive) {
    if (w.Filling()) {
      document = w.ar.GetDocument();
      // A load mostly fills objects it has just made.
      if (w.ar.IsNewlyMade(this)) {
        ResetMade();
      } else {
        Reset();
      }
    }
  }
  // Each later version put its additions in front of the older fields.
  if (version >= 5) {
    w("auxText1", auxText1);
    w("auxText2", auxText2);
    w("flags", flags);
    w("auxWord", auxWord);
  }
  if (version >= 4) w("auxLong", auxLong);
  if (version >= 3) {
    w.Records("hotkeys", "hotkeyCount", hotkeys, CountForm::kU32, 8, [&w](Hotkey& h) {
      w("key", h.key);
      w("modifiers", h.modifiers);
    });
  }
  if (version >= 2) w("showMode", showMode);
  w("active", active);
  w("threaded", threaded);
  w("delayMs", delayMs);
  w("auxValue", auxValue);
  w("comment", comment);
  w("name", name);
  w("editorFlag", editorFlag);
  w("layer", layer);
  w("rect", rect);
  w("auxByte", auxByte);
  w("runState", runState);
  if (W::kArchive && w.Filling()) {
    // A file never starts an insert playing or paused.
    if (flags & kInsertFlagDisabled) {
      runState = run_state::kDisabled;
    } else if (runState != run_state::kDisabled) {
      runState = run_state::kIdle;
    }
  }
  // Owned: a reference back to an insert still being read is refused.
  w.Objects("handlers", handlers, CountForm::kU8, "handlerCount");
  if (w.Filling())
    for (auto& h : handlers)
      if (h) h->owner = weak_from_this();
}

KV_FIELD_WALK_IO(CInsert)

std::shared_ptr<CInsert> CInsert::Clone(bool whilePlaying) const {
  auto copy = std::dynamic_pointer_cast<CInsert>(GetClassInfo().factory());
  copy->CopyFrom(*this);
  if (whilePlaying) copy->KeepNewEditorFlags();
  return copy;
}

void CInsert::KeepNewEditorFlags() {
  editorFlag = kNewEditorFlag;
  for (const auto& h : handlers)
    if (h) h->KeepNewEditorFlags();
}

void CInsert::CopyFrom(const CInsert& other) {
  const uint8_t ownAuxByte = auxByte;
  FieldTransfer::Copy(*this, other);
  auxByte = ownAuxByte;
  document = other.document;
  primary.reset();  // a copy receives its own requests
  handlers.clear();
  handlers.reserve(other.handlers.size());
  for (const auto& h : other.handlers) {
    std::shared_ptr<CFlow> copy;
    if (h) {
      copy = std::static_pointer_cast<CFlow>(h->Clone(false));
      copy->owner = weak_from_this();
    }
    handlers.push_back(std::move(copy));
  }
}

bool CInsert::HasHotkey(uint32_t key, uint32_t modifiers) const {
  if (modifiers == 0) return false;
  return std::find(hotkeys.begin(), hotkeys.end(), Hotkey{key, modifiers}) != hotkeys.end();
}

void CInsert::SetRect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  rect = {left, top, right, bottom};
}

void CInsert::MoveTo(PlayContext& /*ctx*/, int32_t left, int32_t top, int32_t right, int32_t bottom, bool /*redraw*/) {
  // Without a sprite a move is only a new rectangle.
  rect = {left, top, right, bottom};
}

std::string CInsert::DescribeLocation(const CStgDoc* script, bool withScript, bool withKind) const {
  std::string label = name;
  const auto notSpace = [](unsigned char c) { return c != ' ' && c != '\t' && c != '\r' && c != '\n'; };
  label.erase(label.begin(), std::find_if(label.begin(), label.end(), notSpace));
  label.erase(std::find_if(label.rbegin(), label.rend(), notSpace).base(), label.end());
  const std::string kindPrefix = withKind ? GetKindName() + ", " : std::string();
  std::string text;
  if (label.empty()) {
    unsigned position = 0;
    if (script) {
      for (size_t i = 0; i < script->items.size(); ++i)
        if (script->items[i].get() == this) position = static_cast<unsigned>(i + 1);
    }
    text = FormatString(sid::kObjectAtPosition, kindPrefix);
    if (size_t at = text.find("%u"); at != std::string::npos) text.replace(at, 2, std::to_string(position));
  } else {
    text = kindPrefix + label;
  }
  if (withScript && script) text += " " + FormatString(sid::kInScript, script->pathName);
  return text;
}

bool CInsert::CanPlay() const {
  const KindInfo* k = FindKind(GetClassInfo().name);
  return k ? k->plays.canPlay : true;
}

bool CInsert::IsWindowBased() const {
  const KindInfo* k = FindKind(GetClassInfo().name);
  return k && k->windowBased;
}

std::string CInsert::GetKindName() const {
  const KindInfo* k = FindKind(GetClassInfo().name);
  return k && k->kindName ? k->kindName : LoadString(sid::kUndefined);
}

std::string CInsert::GetDescription() {
  std::string text;
  int type = 0;
  GetPropertyText(-1, text, type);
  return text;
}

int CInsert::GetKindId() const {
  const KindInfo* k = FindKind(GetClassInfo().name);
  return k ? k->kindId : kind::kInsertFolder;
}

int CInsert::GetContainerKind() const {
  const KindInfo* k = FindKind(GetClassInfo().name);
  return k ? k->containerKind : 0;
}

int CInsert::GetCategory() const {
  const KindInfo* k = FindKind(GetClassInfo().name);
  return k ? k->category : category::kPlain;
}

void CInsert::GetSize(int32_t& width, int32_t& height) const {
  width = rect.Width();
  height = rect.Height();
}

int CInsert::Run(Runner& /*runner*/, int32_t mode) {
  runMode = mode;
  return 1;
}

bool CInsert::ClearArmed() {
  armed = 0;
  return true;
}

bool CInsert::GetNaturalSize(int32_t& width, int32_t& height) {
  width = 64;
  height = 64;
  return false;
}

int CInsert::AddHandler(uint32_t eventCode, std::shared_ptr<CFlow> handler) {
  if (!handler) return 0;
  if (handlers.size() >= kMaxHandlers) {
    Log("Handler for event %u refused: %s already has %zu handlers", eventCode, name.c_str(), handlers.size());
    return 0;
  }
  handler->eventCode = eventCode;
  handler->owner = weak_from_this();
  handlers.push_back(std::move(handler));
  return 1;
}

std::shared_ptr<CFlow> CInsert::FindHandler(uint32_t eventCode) {
  for (const auto& h : handlers) {
    if (h && h->eventCode == eventCode) {
      h->owner = weak_from_this();
      return h;
    }
  }
  return nullptr;
}

void CInsert::RemoveHandlers(uint32_t eventCode) {
  std::erase_if(handlers, [eventCode](const std::shared_ptr<CFlow>& h) { return h && h->eventCode == eventCode; });
}

std::shared_ptr<CInsert> CInsert::GetPrimary() {
  if (auto p = primary.lock()) return p;
  return shared_from_this();
}

void CInsert::SetRunning(int32_t value) {
  running = value;
  if (auto s = source.lock()) s->running = value;
}

}  // namespace kv
