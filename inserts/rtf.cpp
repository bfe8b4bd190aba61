#include "inserts/rtf.h"

#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>

#include "editing/rtf_reader.h"
#include "engine/runner.h"
#include "inserts/stage_host.h"
#include "persist/field_walk.h"
#include "persist/project_session.h"
#include "platform/string_table.h"
#include "platform/text.h"

namespace kv {

KV_IMPLEMENT_CLASS(CRTF, CVisibleInsert, kVersionable | 0)

void CRTF::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
}

void CRTF::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CRTF>(other));
}

template <class W>
void CRTF::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  const uint16_t v = w.Version("rtfVersion", rtfVersion, kNewestVersion, 1, "CRTF");
  if (v >= 3) {
    w("rtfAuxText", rtfAuxText);
    w("rtfFlags", rtfFlags);
    w("rtfAuxFlag", rtfAuxFlag);
  }
  if (v >= 2) w("rtfBackColor", rtfBackColor);
  w("rtfFile", rtfFile);
  w("withFrame", withFrame);
}

KV_FIELD_WALK_IO(CRTF)

// ---------------------------------------------------------------- playing

namespace {

const ColorField<CRTF> kRtfColors[] = {{Property::kBackgroundColor, &CRTF::rtfBackColor}};

}  // namespace

std::string CRTF::GetDescription() {
  if (rtfFile.empty()) return CVisibleInsert::GetDescription();
  std::string text = LoadString(31466);
  text.replace(text.find("%s"), 2, rtfFile);
  if (withFrame) text += LoadString(51497);
  return text;
}

void CRTF::ListEvents(std::vector<uint32_t>& events) const {
  events = {9013, 9003, 9014, 9032, 9004, 9005, 9006, 9015, 9016, 9017, 9018, 9043,
            9020, 9040, 9021, 9031, 9022, 9033, 9034, 9035, 9036, 9037, 9038};
}

void CRTF::GetPropertyText(int index, std::string& text, int& type) {
  if (index != 0) return;
  text = rtfFile;
  type = 8;
}

int CRTF::SetPropertyText(PlayContext& ctx, int index, const std::string& text) {
  if (index == 0) ChangeContent(ctx, text);
  return 1;
}

namespace {

// The bytes of a file the field can show, or nothing and why not.
std::optional<std::string> ReadShownFile(const std::string& hostPath, std::string& error) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(hostPath, ec);
  if (ec) {
    error = "cannot read the file";
    return std::nullopt;
  }
  if (size > kMaxRtfBytes) {
    error = "the file has " + std::to_string(size) + " bytes; at most " + std::to_string(kMaxRtfBytes) +
            " are shown";
    return std::nullopt;
  }
  std::ifstream in(hostPath, std::ios::binary);
  std::string data(size, '\0');
  in.read(data.data(), std::streamsize(size));
  data.resize(size_t(in.gcount()));
  return data;
}

// A file named ".rtf" that holds no RTF shows as plain text, as it would in
// the rich edit control.
bool IsRtf(const std::string& hostPath, std::string_view data) {
  return EqualsNoCase(std::filesystem::path(hostPath).extension().string(), ".rtf") && LooksLikeRtf(data);
}

}  // namespace

RichDocument CRTF::ReadFile(const std::string& hostPath, std::string& error) {
  const std::optional<std::string> data = ReadShownFile(hostPath, error);
  if (!data) return {};
  if (!IsRtf(hostPath, *data)) return PlainTextDocument(*data);
  try {
    return ReadRtf(*data);
  } catch (const RtfError& e) {
    error = e.what();
    return {};
  }
}

void CRTF::ReadFile(const std::string& hostPath, RichDocumentStream& into, std::string& error) {
  // Finished whatever happens: the widget waits until it is.
  struct Finisher {
    RichDocumentStream& into;
    std::string& error;
    ~Finisher() { into.Finish(error.empty() && std::uncaught_exceptions() ? "the file could not be read" : error); }
  } finisher{into, error};
  const std::optional<std::string> data = ReadShownFile(hostPath, error);
  if (!data) return;
  if (!IsRtf(hostPath, *data)) {
    for (RichParagraph& p : PlainTextDocument(*data).paragraphs) into.Add(std::move(p));
    return;
  }
  try {
    ReadRtf(*data, into);
  } catch (const RtfError& e) {
    error = e.what();
  }
}

void CRTF::LoadDocument(PlayContext& ctx, WidgetWindow& widget) {
  Runner* r = ctx.stage ? &ctx.runner : nullptr;
  const std::string file = r ? r->ExpandNames(rtfFile) : rtfFile;
  std::optional<std::string> host;
  if (r && !file.empty()) {
    if (auto resolved = r->Session().locator().RetrieveResource(file)) host = r->Session().HostPath(*resolved);
    if (!host || !std::filesystem::is_regular_file(*host)) {
      host.reset();
      if (r->playerRunning) r->ReportRunError(this, 6011, file);
    }
  }
  // The whole file is read before the widget is handed the document. Filling
  // the widget from a stream while this thread read it (the reader on a
  // thread of its own) saved nothing on two cores and, in the stage window,
  // left the shown text drawn differently from the headless frame now and
  // then under load.
  auto doc = std::make_shared<RichDocument>();
  std::string error;
  if (host) *doc = ReadFile(*host, error);
  shown_ = doc;
  widget.SetProperty("document", ShareRichDocument(doc));
  if (!error.empty() && r->playerRunning) r->ReportRunError(this, 8015, file + ": " + error);
}

void CRTF::ConfigureWidget(PlayContext& ctx, WidgetWindow& widget) {
  widget.SetProperty("transparent", rtfFlags & rtf_flag::kTransparent ? "1" : "0");
  widget.SetProperty("background", std::to_string(rtfBackColor));
  widget.SetProperty("border", withFrame ? "1" : "0");
  widget.SetProperty("verticalScroll", rtfFlags & rtf_flag::kNoVerticalScroll ? "0" : "1");
  LoadDocument(ctx, widget);
}

void CRTF::ChangeContent(PlayContext& ctx, const std::string& file) {
  rtfFile = file;
  if (WidgetWindow* w = Widget()) {
    LoadDocument(ctx, *w);
    Invalidate(ctx);
  }
}

PropertyAnswer CRTF::GetProperty(Property id) const {
  if (auto color = GetColorField(*this, kRtfColors, id)) return color;
  return CWindowInsert::GetProperty(id);
}

bool CRTF::SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) {
  if (!SetColorField(*this, kRtfColors, id, value)) return CWindowInsert::SetProperty(ctx, id, value);
  if (WidgetWindow* w = Widget()) w->SetProperty("background", std::to_string(rtfBackColor));
  return true;
}

}  // namespace kv
