#include "inserts/ole_control.h"

#include <algorithm>
#include <filesystem>

#include "engine/events.h"
#include "engine/play_context.h"
#include "engine/runner.h"
#include "engine/strings.h"
#include "inserts/stage_host.h"
#include "inserts/control_registry.h"
#include "persist/field_walk.h"
#include "persist/project_session.h"
#include "platform/launcher.h"
#include "platform/text.h"

namespace kv {

KV_IMPLEMENT_CLASS(COleCtl, CVisibleInsert, 1)

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
  return c ? std::string(c->widgetType) : std::string();
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
  if (WidgetWindow* w = Widget()) {
    PutValue(ctx, *w);
    Invalidate(ctx);
  }
}

}  // namespace kv
