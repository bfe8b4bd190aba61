// What the engine asks of the run's sound and media layer (media/, which sits
// above the engine): sending MCI command strings for the flow commands and
// the MCI insert, and playing or stopping the sound a visible object carries.
// The player installs one per run; a run without one has no sound at all.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kv {

class CInsert;
class Runner;

class MediaService {
 public:
  virtual ~MediaService() = default;

  // Sends an MCI command string on the calling thread on behalf of `sender`
  // (traced); answers 0 or the MCI error number, with the return text.
  virtual uint32_t SendMciString(Runner& runner, const CInsert* sender, const std::string& command,
                                 std::string* ret) = 0;

  // The sound insert a visible object carries; null when it has none.
  virtual std::shared_ptr<CInsert> AttachedSound(CInsert& object) = 0;
  // Play, stop, pause and resume the attached sound together with its
  // object; each answers false when the object carries no sound.
  virtual bool PlayAttachedSound(Runner& runner, CInsert& object) = 0;
  virtual bool StopAttachedSound(Runner& runner, CInsert& object) = 0;
  virtual bool PauseAttachedSound(Runner& runner, CInsert& object) = 0;
  virtual bool ResumeAttachedSound(Runner& runner, CInsert& object) = 0;
};

}  // namespace kv
