#include "inserts/ole_control.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>

#include "engine/events.h"
#include "engine/play_context.h"
#include "engine/run_error.h"
#include "engine/runner.h"
#include "engine/strings.h"
#include "inserts/painted_sprite.h"
#include "inserts/stage_host.h"
#include "inserts/control_registry.h"
#include "persist/field_walk.h"
#include "persist/project_session.h"
#include "platform/launcher.h"
#include "platform/text.h"
#include "stage/compositor.h"

namespace kv {

KV_IMPLEMENT_CLASS(COleCtl, CVisibleInsert, 1)

COleCtl::COleCtl() = default;
// A composited control's thread draws into this object: it ends first.
COleCtl::~COleCtl() { CloseControl(); }

void COleCtl::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
}

void COleCtl::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  const COleCtl& o = Same<COleCtl>(other);
  FieldTransfer::Copy(*this, o);
  kindId = o.kindId;
}

template <class W>
void COleCtl::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  w.Version("controlVersion", controlVersion, 1, 1, "COleCtl");
  w.Bytes("controlClsid", controlClsid);
  w("controlAux1", controlAux1);
  w("controlFile", controlFile);
  w.Values("supportFiles", supportFiles, 1);
  w("controlAux2", controlAux2);
  w("autoRegister", autoRegister);
  w("windowless", windowless);
  w("controlAux3", controlAux3);
  w("controlAux4", controlAux4);
  w("controlAux5", controlAux5);
  w("controlAux6", controlAux6);
  w.Bytes("creationData", creationData, CountForm::kU32);
  w("persistedState", persistedState);
}

KV_FIELD_WALK_IO(COleCtl)

// ---------------------------------------------------------------- playing

std::string COleCtl::WidgetType() const {
  const ControlClass* c = FindControlClass(controlClsid);
  return c && c->show == ControlShow::kWidget ? std::string(c->type) : std::string();
}

void COleCtl::ListEvents(std::vector<uint32_t>& events) const {
  using namespace event;
  events = {kSetup, kLoaded, kFileChange, kGoingOnStage, kOnStage, kOffStage};
  std::vector<uint32_t> visible;
  CVisibleInsert::ListEvents(visible);
  for (uint32_t code : visible)
    if (std::find(events.begin(), events.end(), code) == events.end()) events.push_back(code);
}

bool COleCtl::HasContent() const {
  return !auxText1.empty() || (autoRegister && !controlFile.empty()) || !supportFiles.empty();
}

void COleCtl::GetPropertyText(int index, std::string& text, int& type) {
  type = 8;
  if (index == 0) {
    text = auxText1;
    return;
  }
  if (autoRegister) {
    if (index == 1) {
      text = controlFile;
      return;
    }
    --index;
  }
  if (index >= 1 && size_t(index - 1) < supportFiles.size()) text = supportFiles[size_t(index - 1)];
}

int COleCtl::SetPropertyText(PlayContext& ctx, int index, const std::string& text) {
  if (index == 0)
    ChangeValue(ctx, text);
  else if (index == 1 && autoRegister)
    controlFile = text;
  else
    supportFiles.push_back(text);
  return 1;
}

void COleCtl::ChangeContent(PlayContext& ctx, const std::string& value) { ChangeValue(ctx, value); }

bool COleCtl::WantsOwnThread(PlayContext& ctx) const { return MayTakeOwnThread(ctx) && threaded == 1; }

int COleCtl::Run(Runner& runner, int32_t mode) {
  const int result = CVisibleInsert::Run(runner, mode);
  // The control takes the keyboard once it is on the stage.
  PlayContext& ctx = runner.Context();
  if (ctx.stage && Widget()) TakeFocus(*ctx.stage);
  return result;
}

void COleCtl::OnEnable(PlayContext& ctx) {
  CVisibleInsert::OnEnable(ctx);
  if (WidgetWindow* w = Widget()) w->SetProperty("enabled", "1");
}

void COleCtl::OnDisable(PlayContext& ctx) {
  CVisibleInsert::OnDisable(ctx);
  if (WidgetWindow* w = Widget()) w->SetProperty("enabled", "0");
}

void COleCtl::Hide(PlayContext& ctx) {
  CWindowInsert::Hide(ctx);
  CloseControl();
}

// The control plays on the run's clock, which goes with the run.
void COleCtl::StageGone() {
  CloseControl();
  CWindowInsert::StageGone();
}

std::shared_ptr<CompositedControl> COleCtl::OwnControl() const {
  std::lock_guard lock(controlLock_);
  return control_;
}

std::shared_ptr<CompositedControl> COleCtl::Composited() const {
  if (std::shared_ptr<CompositedControl> own = OwnControl()) return own;
  // An object on a thread of its own is on the stage as its thread copy.
  if (auto copy = clone.lock())
    if (auto* other = As<COleCtl>(copy.get())) return other->OwnControl();
  return nullptr;
}

void COleCtl::CloseControl() {
  std::shared_ptr<CompositedControl> control;
  {
    std::lock_guard lock(controlLock_);
    control = std::move(control_);
  }
  // Outside the stage lock's reach: the control's drawing gives up when asked.
  control.reset();
}

std::unique_ptr<StageSprite> COleCtl::MakeSprite(Stage& stage) {
  const ControlClass* c = IsNullClassId(controlClsid) ? nullptr : FindControlClass(controlClsid);
  if (c && c->show == ControlShow::kComposited) return MakeCompositedSprite(stage, *c);
  return CWindowInsert::MakeSprite(stage);
}

std::unique_ptr<StageSprite> COleCtl::MakeCompositedSprite(Stage& stage, const ControlClass& control) {
  const CompositedControlMaker* maker = FindCompositedControlMaker(control.type);
  if (!maker)
    throw KVRunException(sid::kFunctionNotImplemented, GetKindName() + " \"" + name + "\": the " +
                                                           std::string(control.name) + " control is not built in");
  CloseControl();
  const int w = std::max(1, rect.Width()), h = std::max(1, rect.Height());
  auto sprite = std::make_unique<StageSprite>(stage.compositor().Format());
  SetUpControlSprite(*sprite, *this, stage, w, h);
  CompositedControlPlace place{*this, stage, std::max(1, w - 1), std::max(1, h - 1),
                               [this, &stage] { RedrawOn(stage); }};
  std::shared_ptr<CompositedControl> made = (*maker)(place);
  {
    std::lock_guard lock(controlLock_);
    control_ = made;
  }
  if (!auxText1.empty()) PutValue(stage.context(), *made);
  return sprite;
}

std::optional<int32_t> COleCtl::MemberIdOf(const CompositedControl& control, const std::string& property) {
  if (property.size() > 1 && property[0] == '#') {
    int32_t id = 0;
    const char* end = property.data() + property.size();
    const auto [at, ec] = std::from_chars(property.data() + 1, end, id);
    if (ec == std::errc() && at == end) return id;
    return std::nullopt;
  }
  return control.MemberId(property);
}

namespace {

// A text put into a property the control takes as a number becomes that
// number, as a control's own conversion of a string would.
std::optional<DispatchValue> NumberOfText(const std::string& text) {
  double number = 0;
  const char* end = text.data() + text.size();
  const auto [at, ec] = std::from_chars(text.data(), end, number);
  if (ec != std::errc() || at != end || !std::isfinite(number)) return std::nullopt;
  if (number == std::trunc(number) && std::abs(number) <= 2147483647.0) return DispatchValue(int32_t(number));
  return DispatchValue(number);
}

}  // namespace

void COleCtl::PutValue(PlayContext& ctx, CompositedControl& control) {
  if (auxText2.empty()) return;
  Runner& r = ctx.runner;
  const ControlClass* cls = FindControlClass(controlClsid);
  const std::string what = "the " + std::string(cls ? cls->name : "ActiveX") + " control";
  const std::optional<int32_t> id = MemberIdOf(control, auxText2);
  const std::string text = r.ExpandNames(auxText1);
  DispatchStatus status = DispatchStatus::kUnknownMember;
  if (id) {
    status = control.Put(*id, text);
    if (status == DispatchStatus::kTypeMismatch)
      if (const std::optional<DispatchValue> number = NumberOfText(text)) status = control.Put(*id, *number);
  }
  if (status == DispatchStatus::kOk) return;
  uint32_t code = sid::kFunctionNotImplemented;
  std::string detail;
  if (status == DispatchStatus::kUnknownMember && id && auxText2[0] == '#') {
    detail = what + " has no member of the dispatch id " + std::to_string(*id);
  } else if (status == DispatchStatus::kUnknownMember) {
    detail = what + " has no property \"" + auxText2 + "\"";
  } else if (status == DispatchStatus::kTypeMismatch) {
    detail = what + "'s property \"" + auxText2 + "\" does not take \"" + text + "\"";
  } else {
    code = sid::kUnableToOpenFile;
    detail = control.ErrorText();
  }
  if (r.playerRunning) r.ReportRunError(this, code, detail);
  r.variables().SetLastError(2);
}

bool COleCtl::MayMakeWidget(PlayContext& ctx) {
  if (IsNullClassId(controlClsid)) return false;
  if (FindControlClass(controlClsid)) return true;
  // No control of that class: the object stays without one, and no further
  // attempt is made. Its server module is never registered here.
  const std::string classId = FormatClassId(controlClsid);
  controlClsid = {};
  if (!ctx.stage) return false;
  std::string detail = GetKindName() + " \"" + name + "\": this player provides no control of the class " + classId;
  if (!controlFile.empty()) detail += " (its server \"" + controlFile + "\" is never registered)";
  ctx.runner.ReportRunError(this, sid::kFunctionNotImplemented, detail);
  ctx.runner.variables().SetLastError(2);
  return false;
}

void COleCtl::ConfigureWidget(PlayContext& ctx, WidgetWindow& widget) {
  widget.SetProperty("enabled", active ? "1" : "0");
  // The control may take every key for itself; the stage's exit key it passes on.
  if (ctx.stage) widget.SetProperty("exitKey", std::to_string(ctx.stage->settings().exitKey));
  if (!auxText1.empty()) PutValue(ctx, widget);
}

std::string COleCtl::AddressOfValue(PlayContext& ctx, const std::string& value, std::string& error) {
  Runner& r = ctx.runner;
  const std::string text = r.ExpandNames(value);
  // An empty value is given as it is (a page: none).
  if (text.empty()) return text;
  std::optional<std::string> host;
  std::string address;
  if (IsAddress(text)) {
    if (!EqualsNoCase(text.substr(0, text.find(':')), "file")) return text;
    host = LocalPathOfFileAddress(Cp1252ToUtf8(text));
    if (!host) {
      error = text + ": not a file of this machine";
      return {};
    }
    address = text;
  } else {
    if (auto resolved = r.Session().locator().RetrieveResource(text)) host = r.Session().HostPath(*resolved);
    if (!host || !std::filesystem::exists(*host)) {
      error = text + ": no such file";
      return {};
    }
    address = FileAddressOfHostPath(*host);
  }
  // A page is read by the control: it must lie in the run's folders, as a
  // document handed to the desktop must.
  DocumentOpener* documents = r.Documents();
  if (documents && !documents->MayOpenHostPath(*host)) {
    error = text + ": outside the folders this project may read";
    return {};
  }
  return address;
}

bool COleCtl::MayReadAddress(PlayContext& ctx, const std::string& address) {
  const std::optional<std::string> host = LocalPathOfFileAddress(Cp1252ToUtf8(address));
  if (!host) return false;
  DocumentOpener* documents = ctx.runner.Documents();
  return !documents || documents->MayOpenHostPath(*host);
}

void COleCtl::PutValue(PlayContext& ctx, WidgetWindow& widget) {
  if (auxText2.empty()) return;
  std::string error;
  const std::string address = AddressOfValue(ctx, auxText1, error);
  if (!error.empty()) {
    if (ctx.runner.playerRunning) ctx.runner.ReportRunError(this, sid::kUnableToOpenFile, error);
    return;
  }
  widget.SetProperty(PutPropertyName(auxText2), address);
}

void COleCtl::ChangeValue(PlayContext& ctx, const std::string& value) {
  auxText1 = value;
  if (std::shared_ptr<CompositedControl> control = Composited()) {
    PutValue(ctx, *control);
    return;
  }
  if (WidgetWindow* w = Widget()) {
    PutValue(ctx, *w);
    Invalidate(ctx);
  }
}

}  // namespace kv
