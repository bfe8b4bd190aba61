#include <cstdio>
#include <cstring>

#include "persist/document.h"
#include "persist/json_fields.h"
#include "persist/open_project.h"
#include "tools/kvtool/classes.h"
#include "tools/kvtool/commands.h"

namespace kv::tool {

namespace {
constexpr OptionSpec kOptions[] = {
    {"-o", "OUT", "the archive to write (required)"},
    {"--partial", nullptr, "a field the JSON leaves out keeps its default (hand-written projects)"},
};
}  // namespace

const CommandSpec kPackSpec{"pack", "IN.json", "write a JSON dump back as an archive, byte for byte", kOptions};

int RunPack(int argc, char** argv) {
  const ParsedArgs args = ParseArgs(kPackSpec, argc, argv);
  RequireOperands(kPackSpec, args, 1, 1);
  if (!args.Has("-o")) UsageError(kPackSpec, "-o OUT is required");
  const std::string& in = args.operands[0];
  const std::string text = ReadInputFile(in, false);
  RegisterAllClasses();
  CStgDoc doc;
  try {
    auto json = nlohmann::ordered_json::parse(text);
    if (!json.is_object() || json.value("class", "") != "CStgDoc")
      return Fail(kExitBadData, "%s: the top object must be of class CStgDoc", in.c_str());
    FillFromJson(doc, json, args.Has("--partial"));
  } catch (const nlohmann::json::exception& e) {
    return Fail(kExitBadData, "%s: %s", in.c_str(), e.what());
  } catch (const JsonFieldError& e) {
    return Fail(kExitBadData, "%s: %s", in.c_str(), e.what());
  }
  std::vector<uint8_t> bytes;
  try {
    bytes = doc.Store();
  } catch (const CArchiveException& e) {
    return Fail(kExitBadData, "%s: %s", in.c_str(), e.what());
  }
  WriteOutputFile(args.Value("-o"), std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  return kExitOk;
}

}  // namespace kv::tool
