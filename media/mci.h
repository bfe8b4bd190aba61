// CMCI: the insert that sends an author-written command string to the media
// control layer, on the thread that owns the target device.
#pragma once

#include <cstdint>
#include <string>

#include "engine/insert.h"

namespace kv {

struct MciFields {
  uint16_t mciVersion = 0;  // version read; always 1
  std::string mciVerb;
  std::string mciTarget;  // also names the insert whose thread owns the device
  std::string mciParameters;
  uint8_t showErrors = 0;
  uint32_t mciValue = 0;
};

class CMCI : public CInsert, public MciFields {
  KV_DECLARE_CLASS(CMCI)
 public:
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;

  // Sends the command string on the thread that owns the target insert.
  int Run(Runner& runner, int32_t mode) override;
  void Stop(PlayContext&) override {}
  // The string sent: verb, target and parameters, names expanded, trimmed.
  std::string BuildCommand(Runner& runner) const;
};

// The error box's caption: "MCI Error->", the verb and the target.
std::string MciErrorCaption(const std::string& verb, const std::string& target);

}  // namespace kv
