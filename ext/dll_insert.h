// ScDLL: calls a procedure exported by an author's extension library with a
// typed argument list, or acts as an extension object drawn and driven by
// the library's own entry points.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include <korvel/extension.h>

#include "inserts/painted_sprite.h"
#include "inserts/visible_insert.h"
#include "stage/pixel_buffer.h"

namespace kv {

struct DllFields {
  static constexpr size_t kMaxEntries = 32;

  uint16_t dllVersion = 0;  // version read; always 1
  std::string dllPath;      // also the insert's file reference
  std::string secondText;
  std::string thirdText;
  std::string procedureName;
  // Entry 0 is the result, entries 1 to entryCount - 1 the arguments.
  uint8_t entryCount = 1;
  std::array<uint8_t, kMaxEntries> typeCodes{};
  std::array<std::string, kMaxEntries> texts;  // a literal, or a variable name
  std::array<uint8_t, kMaxEntries> sources = DefaultSources();  // 1 literal, 0 variable
  uint8_t extensionMode = 0;  // 0 plain call, 1 extension object

  // The result comes from a variable, the arguments from literals.
  static constexpr std::array<uint8_t, kMaxEntries> DefaultSources() {
    std::array<uint8_t, kMaxEntries> s{};
    for (size_t i = 1; i < kMaxEntries; ++i) s[i] = 1;
    return s;
  }
};

class ExtensionLibrary;

class ScDLL : public CVisibleInsert, public DllFields, public SelfPainting {
  KV_DECLARE_CLASS(ScDLL)
 public:
  ScDLL();
  ~ScDLL() override;
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
  std::string GetFileName() const override { return dllPath; }
  void SetFileName(const std::string& text) override { dllPath = text; }
  bool HasContent() const override { return !dllPath.empty(); }

  int Run(Runner& runner, int32_t mode) override;
  void Hide(PlayContext& ctx) override;
  void PutOnStage(PlayContext& ctx) override;
  void PlayOnStage(PlayContext& ctx) override;
  void HandleStageEventAt(PlayContext& ctx, uint32_t eventCode, Point at) override;
  void PaintSprite(PlayContext* ctx, StageSprite& sprite, DrawTarget& target, const Rect& clip) override;

  // The pixels the last kvoRender drew into; null before the first.
  const kv_Bitmap* LastBitmap() const { return rendered_ ? &bitmap_ : nullptr; }

 protected:
  std::unique_ptr<StageSprite> MakeSprite(Stage& stage) override;

 private:
  bool IsExtensionObject() const { return extensionMode != 0; }
  // Finds and loads the library when none is held; failures raise
  // KVRunException when `report`, and answer false otherwise.
  bool LoadLibrary(Runner& runner, bool report);
  // Calls the configured procedure with the entries (errors raised).
  void CallProcedure(Runner& runner);
  // The call with its errors reported for this insert.
  void CallReported(Runner& runner);
  void ResolveObjectEntries();

  std::shared_ptr<ExtensionLibrary> library_;
  using RenderFn = void (*)(kv_Bitmap*, kv_Rect);
  using ActionFn = void (*)(int32_t, int32_t, int32_t, uint32_t);
  using AnimateFn = void (*)();
  RenderFn render_ = nullptr;
  ActionFn action_ = nullptr;
  AnimateFn animate_ = nullptr;
  bool animateLooked_ = false;
  // Drawing state, touched under the stage lock.
  PixelBuffer canvas_;
  kv_Bitmap bitmap_{};
  bool rendered_ = false;
};

}  // namespace kv
