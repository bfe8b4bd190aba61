#include "persist/json_fields.h"

#include <gtest/gtest.h>

#include "persist/containers.h"
#include "persist/document.h"
#include "persist/project_tree.h"

namespace kv {
namespace {

class JsonFieldsTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterPersistClasses(); }
};

TEST_F(JsonFieldsTest, SharedObjectsPrintOnceWithIds) {
  auto shared = std::make_shared<CStringList>();
  shared->items = {"caf\xe9"};  // Windows-1252 e acute prints as UTF-8
  auto list = std::make_shared<CObList>();
  list->items = {shared, nullptr, shared};
  auto json = ObjectToJson(*list);
  EXPECT_EQ(json.dump(), R"({"class":"CObList","items":[{"class":"CStringList","$id":1,"items":["café"]},null,{"$ref":1}]})");

  auto back = std::dynamic_pointer_cast<CObList>(ObjectFromJson(json));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->items[0], back->items[2]);
  EXPECT_EQ(back->items[1], nullptr);
  EXPECT_EQ(std::static_pointer_cast<CStringList>(back->items[0])->items[0], "caf\xe9");
}

TEST_F(JsonFieldsTest, ProjectRoundTripsThroughJson) {
  CStgDoc doc;
  doc.isProject = 1;
  doc.settings.stageCaption = "Stage";
  doc.settings.exitKey = 13;
  doc.collection.list = {"one", "two"};
  ControlRecord wide;
  wide.wide = true;
  wide.text = "W";
  wide.values = {1, 2, 3, 4, 5};
  doc.controlTables.second.push_back(wide);
  auto node = std::make_shared<CProjNode>();
  node->path = "scene.kvs";
  node->kind = kNodeScene;
  doc.projectTree.push_back(node);
  auto json = ObjectToJson(doc);
  EXPECT_EQ(json["settings"]["exitKey"], 13);
  EXPECT_EQ(json["projectTree"][0]["path"], "scene.kvs");

  CStgDoc back;
  FillFromJson(back, json);
  EXPECT_EQ(back.Store(), doc.Store());
}

TEST_F(JsonFieldsTest, ErrorsNameTheField) {
  struct Case {
    const char* json;
    const char* message;
  } cases[] = {
      {R"({"class":"CStringList"})", "items: expected this field (missing)"},
      {R"({"class":"CStringList","items":[1]})", "items[0]: expected a string"},
      {R"({"class":"CStringList","items":[],"extra":1})", "(top): unknown field \"extra\""},
      {R"({"class":"CDWordArray","items":[-1]})", "items[0]: expected a number in range"},
      {R"({"class":"CDWordArray","items":[4294967296]})", "items[0]: expected a number in range"},
      {R"({"class":"CNoSuch"})", "(top): expected a known class, not CNoSuch"},
      {R"({"class":"CObList","items":[{"$ref":7}]})", "items[0]: expected a $ref to an object printed earlier"},
      {R"({"class":"CByteArray","items":"0g"})", "items: expected a string of hex digit pairs"},
      {R"({"class":"CStringList","items":["€ fits, ☃ does not"]})", "items[0]: expected text that Windows-1252 can hold"},
  };
  for (const Case& c : cases) {
    try {
      ObjectFromJson(nlohmann::ordered_json::parse(c.json));
      ADD_FAILURE() << c.json;
    } catch (const JsonFieldError& e) {
      EXPECT_EQ(std::string(e.what()), c.message) << c.json;
    }
  }
}

TEST_F(JsonFieldsTest, BytesPrintAsHex) {
  CByteArray bytes;
  bytes.items = {0x00, 0xAB, 0x10};
  EXPECT_EQ(ObjectToJson(bytes)["items"], "00ab10");
}

}  // namespace
}  // namespace kv
