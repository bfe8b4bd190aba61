// COleCtl: an ActiveX control, identified by its class identifier, placed on
// the stage. The common record's auxText1 and auxText2 are the value given
// to the control and the name of the property that receives it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/kinds.h"
#include "inserts/control_registry.h"
#include "inserts/window_insert.h"

namespace kv {

struct OleControlFields {
  uint16_t controlVersion = 0;  // version read; always 1
  std::array<uint8_t, 16> controlClsid{};  // binary little-endian layout; all zero: no control
  uint32_t controlAux1 = 0;
  std::string controlFile;  // the control's server module
  std::vector<std::string> supportFiles;
  uint32_t controlAux2 = 0;
  uint32_t autoRegister = 0;
  uint8_t windowless = 0;
  uint8_t controlAux3 = 0;
  uint8_t controlAux4 = 0;
  uint32_t controlAux5 = 0;
  uint32_t controlAux6 = 0;
  std::vector<uint8_t> creationData;  // opaque, handed to control creation
  std::vector<uint8_t> persistedState;
};

// Shown by the control its class id names in the player's registry
// (inserts/control_registry.h): a native widget, or a composited control
// drawn into the object's sprite. The control's server module
// (`controlFile`, `autoRegister`) is kept, stored and reported, never loaded
// or registered.
class COleCtl : public CWindowInsert, public OleControlFields {
  KV_DECLARE_CLASS(COleCtl)
 public:
  COleCtl();
  ~COleCtl() override;

  // The kind the object was created as (1008 "ActiveX" or 1031 "ActiveX
  // Control" in the editor); not stored.
  int kindId = kind::kInsertFolder;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
  int GetKindId() const override { return kindId; }

  std::string WidgetType() const override;
  void ListEvents(std::vector<uint32_t>& events) const override;
  // Index 0 is the value (auxText1), 1 the server module when autoRegister
  // is set, then the support files.
  bool HasContent() const override;
  void GetPropertyText(int index, std::string& text, int& type) override;
  int SetPropertyText(PlayContext& ctx, int index, const std::string& text) override;
  // Requests that change the content give the control a new value.
  void ChangeContent(PlayContext& ctx, const std::string& value) override;
  int Run(Runner& runner, int32_t mode) override;
  void OnEnable(PlayContext& ctx) override;
  void OnDisable(PlayContext& ctx) override;
  bool WantsOwnThread(PlayContext& ctx) const override;
  // A composited control ends with the object's time on the stage.
  void Hide(PlayContext& ctx) override;
  void StageGone() override;

  // The composited control while the object (or its thread copy) is on the
  // stage; null for a widget control or none. Held by the caller for the
  // length of a call.
  std::shared_ptr<CompositedControl> Composited() const;
  // The dispatch id a property name given to a composited control means: a
  // member name of the control, or "#" and the id in decimal.
  static std::optional<int32_t> MemberIdOf(const CompositedControl& control, const std::string& property);

  // The value-change operation: `auxText1` := value; with a control on the
  // stage and a property named in `auxText2`, the control's property is set
  // to the value, a name that is no address mapped to a local file's
  // address first. A local file outside the run's folders is refused.
  void ChangeValue(PlayContext& ctx, const std::string& value);

  // The address the control is given for a value: itself when it is an
  // address or empty; else the locator's local file as a "file://" address.
  // Empty, with `error` set, when the file is refused or cannot be found.
  static std::string AddressOfValue(PlayContext& ctx, const std::string& value, std::string& error);

  // A page may read a "file:" address only inside the run's folders.
  bool MayReadAddress(PlayContext& ctx, const std::string& address) override;

  // The widget property a control property put goes through.
  static std::string PutPropertyName(const std::string& controlProperty) { return "put:" + controlProperty; }

 protected:
  std::unique_ptr<StageSprite> MakeSprite(Stage& stage) override;
  bool MayMakeWidget(PlayContext& ctx) override;
  void ConfigureWidget(PlayContext& ctx, WidgetWindow& widget) override;

 private:
  std::unique_ptr<StageSprite> MakeCompositedSprite(Stage& stage, const ControlClass& control);
  void PutValue(PlayContext& ctx, WidgetWindow& widget);
  void PutValue(PlayContext& ctx, CompositedControl& control);
  void CloseControl();
  std::shared_ptr<CompositedControl> OwnControl() const;

  mutable std::mutex controlLock_;  // guards the pointer, not the control
  std::shared_ptr<CompositedControl> control_;
};

}  // namespace kv
