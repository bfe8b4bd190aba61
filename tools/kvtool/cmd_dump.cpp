#include <cstdio>
#include <cstring>

#include "persist/document.h"
#include "persist/json_fields.h"
#include "persist/open_project.h"
#include "platform/string_table.h"
#include "tools/kvtool/classes.h"
#include "tools/kvtool/commands.h"

namespace kv::tool {

int RunDump(int argc, char** argv) {
  if (argc != 1 || argv[0][0] == '-') {
    std::fprintf(stderr, "usage: kvtool dump FILE\n");
    return kExitUsage;
  }
  const std::string path = argv[0];
  std::string bytes;
  if (!ReadHostFile(path, bytes))
    return Fail("dump", kExitNotFound, "%s: %s", LoadString(sid::kUnableToLocateScript), path.c_str());
  RegisterAllClasses();
  std::shared_ptr<CStgDoc> doc;
  try {
    doc = LoadDocument(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), path);
  } catch (const CArchiveException& e) {
    return Fail("dump", kExitBadData, "%s%s%s", e.Message().c_str(), e.m_detail.empty() ? "" : " - ",
                e.m_detail.c_str());
  }
  std::string text = ObjectToJson(*doc).dump(2);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  return kExitOk;
}

}  // namespace kv::tool
