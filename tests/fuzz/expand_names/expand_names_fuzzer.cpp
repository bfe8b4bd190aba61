// Feeds arbitrary text to name substitution with a host whose variables,
// environment, registry, INI entries and prompt answer with macros of their
// own, so values feed later passes and can grow without end. The output must
// respect the bound, and a text without "%" must come back unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/expand_names.h"

namespace {

// Every lookup answers with its own argument wrapped around macros, so the
// input decides how values nest and grow.
class EchoHost : public kv::MacroHost {
 public:
  std::string ProjectDir() override { return "C:\\proj"; }
  std::string ProgramDir() override { return "C:\\prog\\"; }
  std::string CacheDir() override { return ""; }
  std::string CurrentDir() override { return "Z:\\"; }
  std::vector<char> Drives(kv::DriveType type) override {
    return type == kv::DriveType::Fixed ? std::vector<char>{'C', 'Z'} : std::vector<char>{};
  }
  std::optional<std::string> Variable(const std::string& name) override {
    if (name.empty() || name[0] == 'x') return std::nullopt;
    return name + "%" + name + "%";  // a name that is itself a macro refers on
  }
  std::optional<std::string> Environment(const std::string& name) override { return "%" + name + "%"; }
  std::string RegistryValue(kv::RegistryRoot, const std::string& subkey, const std::string& value) override {
    return subkey + value;
  }
  std::string IniValue(const std::string& file, const std::string& section, const std::string& key) override {
    return "%" + file + "%" + section + "%" + key;
  }
  std::optional<std::string> PromptForFile(const std::string& initial) override {
    if (initial.size() % 2) return std::nullopt;
    return initial + "%VAR:" + initial + "%";
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  EchoHost host;
  std::string out = kv::ExpandNames(text, host);
  if (text.find('%') == std::string::npos) {
    if (out != text) std::abort();
  } else if (out.size() > kv::kMaxExpandedSize) {
    std::abort();
  }
  std::string once = text;
  bool replaced = kv::ExpandOnce(once, host);
  if (!replaced && text.find('%') == std::string::npos && once != text) std::abort();
  if (text.find('%') != std::string::npos && once.size() > kv::kMaxExpandedSize) std::abort();
  return 0;
}
