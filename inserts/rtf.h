// CRTF: a rich-text or plain-text file shown in a scrollable rich edit
// control placed on the stage.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "inserts/window_insert.h"

namespace kv {

struct RichDocument;
class RichDocumentStream;

namespace rtf_flag {
inline constexpr uint8_t kTransparent = 1;
inline constexpr uint8_t kNoVerticalScroll = 2;
}  // namespace rtf_flag

struct RtfFields {
  uint16_t rtfVersion = 0;  // version read; written as 3
  std::string rtfAuxText;
  uint8_t rtfFlags = 0;  // rtf_flag bits
  uint8_t rtfAuxFlag = 0;
  uint32_t rtfBackColor = 0x00FFFFFF;
  std::string rtfFile;
  uint8_t withFrame = 0;
};

// Shown by the widget type "rich text"; the file is read here (rich text
// when its extension is ".rtf" in any case, else plain text) and handed to
// the widget as a RichDocument.
class CRTF : public CWindowInsert, public RtfFields {
  KV_DECLARE_CLASS(CRTF)
 public:
  static constexpr uint16_t kNewestVersion = 3;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
  std::string GetFileName() const override { return rtfFile; }

  std::string WidgetType() const override { return "rich text"; }
  std::string GetDescription() override;
  void ListEvents(std::vector<uint32_t>& events) const override;
  bool HasContent() const override { return !rtfFile.empty(); }
  void GetPropertyText(int index, std::string& text, int& type) override;
  int SetPropertyText(PlayContext& ctx, int index, const std::string& text) override;
  // Shows another file; an object on the stage reads it at once.
  void ChangeContent(PlayContext& ctx, const std::string& file) override;
  PropertyAnswer GetProperty(Property id) const override;
  bool SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) override;

  // The document a file holds, as the field shows it; `error` tells why a
  // file could not be shown (the document is then empty).
  static RichDocument ReadFile(const std::string& hostPath, std::string& error);
  // The same, each paragraph added to `into` as it is read; `into` is
  // finished on return (empty, with `error`, for a file that cannot be
  // shown).
  static void ReadFile(const std::string& hostPath, RichDocumentStream& into, std::string& error);

 protected:
  void ConfigureWidget(PlayContext& ctx, WidgetWindow& widget) override;

 private:
  void LoadDocument(PlayContext& ctx, WidgetWindow& widget);

  // What the widget shows, a document or a stream of one: the handoff to
  // the widget holds it weakly.
  std::shared_ptr<const void> shown_;
};

}  // namespace kv
