// CLaunch ("Launch"): runs an external program (or opens a document with its
// viewer) and waits for it.
#pragma once

#include "engine/insert.h"

namespace kv {

class LaunchedProgram;

class CLaunch : public CInsert {
  KV_DECLARE_CLASS(CLaunch)
 public:
  uint16_t launchVersion = 0;
  std::string program;
  std::string parameters;
  uint8_t launchFlag = 1;
  uint8_t closeOnStop = 1;
  uint32_t launchValue = 1;
  uint32_t launchValue2 = 0;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
  bool HasContent() const override { return true; }

  int Run(Runner& runner, int32_t mode) override;
  void Stop(PlayContext& ctx) override;
  void TakeOffStage(PlayContext& ctx) override { Stop(ctx); }
  bool IsPlaying() const override { return process_ != nullptr; }
  bool WantsOwnThread(PlayContext& ctx) const override;

 private:
  std::shared_ptr<LaunchedProgram> process_;  // the running program, run-time only
};

}  // namespace kv
