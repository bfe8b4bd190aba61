// CBasic: the Orlan insert, which runs a subroutine of a compiled Orlan
// script or acts as an extension object drawn by the script.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "inserts/painted_sprite.h"
#include "inserts/visible_insert.h"

namespace kv::orlan {
class ScriptObject;
class Thread;
}  // namespace kv::orlan

namespace kv {

struct BasicFields {
  uint16_t basicVersion = 0;  // version read; always 1
  uint32_t reservedLong = 0;  // carried unchanged
  uint16_t extensionMode = 0;  // 0 runs "main" once; otherwise an extension object
  std::string alternatePath;  // the insert's second file reference
  std::string scriptPath;     // the compiled code file
  uint16_t reservedWord = 0;  // carried unchanged
};

class CBasic : public CVisibleInsert, public BasicFields, public SelfPainting {
  KV_DECLARE_CLASS(CBasic)
 public:
  CBasic();
  ~CBasic() override;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
  // The compiled code file; the alternate path is the second reference.
  std::string GetFileName() const override { return scriptPath; }

  int Run(Runner& runner, int32_t mode) override;
  void Stop(PlayContext& ctx) override;
  void Hide(PlayContext& ctx) override;
  void PlayOnStage(PlayContext& ctx) override;
  void HandleStageEventAt(PlayContext& ctx, uint32_t eventCode, Point at) override;
  void PaintSprite(PlayContext* ctx, StageSprite& sprite, DrawTarget& target, const Rect& clip) override;

  // Run-time state; the binding touches it under its Orlan lock.
  std::vector<uint8_t> code;  // the compiled code block
  std::shared_ptr<orlan::ScriptObject> script;
  std::unique_ptr<orlan::Thread> thread;  // for "main" and event subroutines
  bool threadBusy = false;
  std::atomic<bool> dropThread{false};  // a silent run-time error: the next call gets a fresh thread
  std::atomic<bool> errorFlag{false};
  std::string errorText;  // the last run-time error, drawn when rendering fails
  // The object whose event the insert handles ("THIS" names it meanwhile).
  std::weak_ptr<CInsert> eventObject;

  // Drops the engine thread and the script object (the code stays).
  void ReleaseEngineState();

 protected:
  std::unique_ptr<StageSprite> MakeSprite(Stage& stage) override;

 private:
  bool IsExtensionObject() const { return extensionMode != 0; }
  bool mainDone_ = false;  // an extension object's "main" ran
};

}  // namespace kv
