// Feeds arbitrary bytes to the saver list readers: the run's and the
// dialog's. When the dialog loads a list, what it writes must read back to
// the same names and, for a run, to the same outcome; the dialog's edits on
// a loaded list must keep the written list readable.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "saver/saver_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kv::saver;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  SaverRunSettings run;
  const ReadOutcome outcome = ReadSaverConfigurationFrom(bytes, run);
  if (outcome == ReadOutcome::kFound && (run.modeSwitch < 0 || run.modeSwitch > 3)) std::abort();
  SaverConfig config;
  const auto loaded = config.LoadBytes(bytes);
  if ((loaded.outcome == SaverConfig::LoadOutcome::kSyntaxError) != (outcome == ReadOutcome::kMalformed)) std::abort();
  if (loaded.selected >= static_cast<int>(loaded.names.size())) std::abort();
  // Written and read again, the list keeps its projects as long as their
  // names and paths are not blank (blank ones are not written back).
  SaverConfig again;
  if (again.LoadBytes(config.Bytes()).outcome == SaverConfig::LoadOutcome::kSyntaxError) std::abort();
  // Every edit leaves a list that parses.
  config.options.modeSwitch = static_cast<int>(size % 5) - 1;
  config.StoreSettings();
  config.EditPath("/x/" + std::to_string(size) + ".kvp");
  config.Install("/y/new.kvp");
  config.Remove();
  SaverConfig edited;
  if (edited.LoadBytes(config.Bytes()).outcome == SaverConfig::LoadOutcome::kSyntaxError) std::abort();
  return 0;
}
