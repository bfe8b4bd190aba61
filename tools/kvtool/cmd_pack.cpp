#include <cstdio>
#include <cstring>
#include <fstream>

#include "persist/document.h"
#include "persist/json_fields.h"
#include "persist/open_project.h"
#include "tools/kvtool/classes.h"
#include "tools/kvtool/commands.h"

namespace kv::tool {

int RunPack(int argc, char** argv) {
  std::string in, out;
  bool partial = false;
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--partial")) {
      partial = true;
    } else if (!std::strcmp(argv[i], "-o") && i + 1 < argc) {
      out = argv[++i];
    } else if (argv[i][0] != '-' && in.empty()) {
      in = argv[i];
    } else {
      in.clear();
      break;
    }
  }
  if (in.empty() || out.empty()) {
    std::fprintf(stderr, "usage: kvtool pack IN.json -o OUT [--partial]\n");
    return kExitUsage;
  }
  std::string text;
  if (!ReadHostFile(in, text)) return Fail("pack", kExitNotFound, "cannot read %s", in.c_str());
  RegisterAllClasses();
  CStgDoc doc;
  try {
    auto json = nlohmann::ordered_json::parse(text);
    if (!json.is_object() || json.value("class", "") != "CStgDoc")
      return Fail("pack", kExitBadData, "%s: the top object must be of class CStgDoc", in.c_str());
    FillFromJson(doc, json, partial);
  } catch (const nlohmann::json::exception& e) {
    return Fail("pack", kExitBadData, "%s: %s", in.c_str(), e.what());
  } catch (const JsonFieldError& e) {
    return Fail("pack", kExitBadData, "%s: %s", in.c_str(), e.what());
  }
  std::vector<uint8_t> bytes;
  try {
    bytes = doc.Store();
  } catch (const CArchiveException& e) {
    return Fail("pack", kExitBadData, "%s: %s", in.c_str(), e.what());
  }
  if (!WriteFileAtomically(out, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())))
    return Fail("pack", kExitFailed, "cannot write %s", out.c_str());
  return kExitOk;
}

}  // namespace kv::tool
