#include "tests/shell/test_entry.h"

#include <nlohmann/json.hpp>

#include "engine/runner.h"
#include "engine/variables.h"
#include "ext/register.h"
#include "persist/document.h"
#include "persist/json_fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CTestEntry, CVisibleInsert, 1)

void CTestEntry::WidgetChanged(PlayContext& ctx, const std::string& property, const std::string& value) {
  if (property != "text") return;
  if (ctx.stage) ctx.runner.variables().SetString(name, value);
}

void RegisterTestKinds() {
  RegisterInsertClasses();
  CTestEntry::StaticClass();
}

std::vector<uint8_t> WindowObjectsProject() {
  using Json = nlohmann::ordered_json;
  Json doc = Json::parse(R"({"class": "CStgDoc", "isProject": 1, "defaultGroup": "G",
    "settings": {"clientWidth": 96, "clientHeight": 56, "clientColor": 8421504},
    "projectTree": [{"class": "CProjNode", "kind": 0, "level": 0, "path": "show.kvp"}],
    "items": [
      {"class": "CVar", "active": 1, "groupName": "G", "items": [
        {"class": "CVarsItem", "type": 6, "name": "first", "initialText": ""},
        {"class": "CVarsItem", "type": 6, "name": "second", "initialText": ""},
        {"class": "CVarsItem", "type": 3, "name": "waited", "initialValue": 0}]},
      {"class": "CTestEntry", "active": 1, "name": "first", "comment": "",
       "rect": {"left": 4, "top": 4, "right": 84, "bottom": 22}},
      {"class": "CTestEntry", "active": 1, "name": "second", "comment": "",
       "rect": {"left": 4, "top": 28, "right": 84, "bottom": 46}},
      {"class": "CWait", "active": 1, "name": "anykey", "conditions": 128},
      {"class": "CCalc", "active": 1, "name": "mark", "operator": 1, "resultName": "waited", "firstName": "waited",
       "firstIsConstant": 0, "secondIsConstant": 1, "secondSlot": 1},
      {"class": "CFlow", "active": 1, "name": "moveSecond", "command": 68, "argument": "second"},
      {"class": "CWait", "active": 1, "name": "pause", "conditions": 4, "timeoutMs": 100},
      {"class": "CFlow", "active": 1, "name": "removeFirst", "command": 12, "argument": "first"},
      {"class": "CFlow", "active": 1, "name": "hideSecond", "command": 13, "argument": "second"},
      {"class": "CBottom", "active": 1}]})");
  return std::static_pointer_cast<CStgDoc>(ObjectFromJson(doc, true))->Store();
}

}  // namespace kv
