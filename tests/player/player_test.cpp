// Two players in one process: each opens its own compilation, finds a
// stored name in its own archive, and keeps its own play state, although the
// second one opens, plays and ends while the first is still playing.
#include "player/player.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <thread>

#include "ext/register.h"
#include "imaging/picture_loader.h"
#include "net/kvg_archive.h"
#include "persist/document.h"
#include "persist/json_fields.h"

namespace kv {
namespace {

using Json = nlohmann::ordered_json;

// show.kvp: the project. A variable `who`; optionally a wait for any key
// (conditions 128); a call of next.kvs (command 0), found in the project's
// own archive; a jump to the scene lost.kvs (command 53), which is in no
// tree: a playing run asks whether to go on.
std::vector<uint8_t> ProjectBytes(bool waitForKey) {
  Json items = Json::parse(R"([
    {"class": "CVar", "active": 1, "groupName": "G",
     "items": [{"class": "CVarsItem", "type": 3, "name": "who", "initialValue": 0}]},
    {"class": "CFlow", "active": 1, "name": "callNext", "command": 0, "argument": "next.kvs"},
    {"class": "CFlow", "active": 1, "name": "toLost", "command": 53, "argument": "lost.kvs"},
    {"class": "CBottom", "active": 1}])");
  if (waitForKey)
    items.insert(items.begin() + 1, Json::parse(R"({"class": "CWait", "active": 1, "name": "key", "conditions": 128})"));
  Json doc = Json::parse(R"({"class": "CStgDoc", "isProject": 1, "defaultGroup": "G",
    "settings": {"clientWidth": 32, "clientHeight": 24},
    "projectTree": [{"class": "CProjNode", "kind": 0, "level": 0, "path": "show.kvp"},
                    {"class": "CProjNode", "kind": 3, "level": 1, "path": "next.kvs"}]})");
  doc["items"] = items;
  return std::static_pointer_cast<CStgDoc>(ObjectFromJson(doc, true))->Store();
}

// next.kvs: adds the project's own mark to `who` (CCalc operator 1, add).
std::vector<uint8_t> NextBytes(double mark) {
  Json doc = Json::parse(R"({"class": "CStgDoc", "defaultGroup": "G", "items": [
    {"class": "CCalc", "active": 1, "name": "mark", "operator": 1, "resultName": "who", "firstName": "who",
     "firstIsConstant": 0, "secondIsConstant": 1},
    {"class": "CBottom", "active": 1}]})");
  doc["items"][0]["secondSlot"] = mark;
  return std::static_pointer_cast<CStgDoc>(ObjectFromJson(doc, true))->Store();
}

// What a trace says: the value of G.who at the end, and the texts of the
// messages shown.
struct TraceFacts {
  std::optional<double> who;
  std::vector<std::string> texts;
};

TraceFacts ReadTrace(const std::filesystem::path& file) {
  TraceFacts facts;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    Json j = Json::parse(line, nullptr, false);
    if (j.is_discarded()) continue;
    if (j.value("ev", "") == "message") facts.texts.push_back(j.value("text", ""));
    if (j.value("ev", "") != "end") continue;
    for (const Json& v : j["vars"])
      if (v.value("group", "") == "G" && v.value("var", "") == "who") facts.who = v["value"].get<double>();
  }
  return facts;
}

class TwoPlayers : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterInsertClasses();
    dir_ = std::filesystem::temp_directory_path() / ("kvplayers" + std::to_string(::getpid()));
    for (const char* name : {"a", "b"}) std::filesystem::create_directories(dir_ / name);
    // The same stored names in both archives, with different contents.
    WriteKvg(dir_ / "a" / "show.kvg", ProjectBytes(true), NextBytes(1));
    WriteKvg(dir_ / "b" / "show.kvg", ProjectBytes(false), NextBytes(2));
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static void WriteKvg(const std::filesystem::path& file, std::vector<uint8_t> project, std::vector<uint8_t> next) {
    std::vector<KvgInput> entries{{"show.kvp", std::move(project), kKvgStored, true},
                                  {"next.kvs", std::move(next), kKvgStored, true}};
    std::vector<uint8_t> bytes = BuildKvg(entries, 0, "", true);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  PlayerOptions Options(const char* name) {
    PlayerOptions o;
    o.fileName = (dir_ / name / "show.kvg").string();
    o.headless = true;
    o.virtualClock = true;
    o.noAudioDevice = true;
    o.seed = 1;
    o.answers = {"no"};  // "No" to going on without lost.kvs: the run ends
    o.traceFile = (dir_ / name / "trace.jsonl").string();
    return o;
  }

  std::filesystem::path dir_;
};

TEST_F(TwoPlayers, EachFindsItsOwnFilesAndKeepsItsOwnPlayState) {
  // A opens its project and waits for a key; B opens, plays and ends
  // meanwhile; then A goes on.
  Player a(Options("a"), HostFacts{});
  std::promise<void> aOpened;
  a.AttachWindow(WindowServices{.stageReady = [&](Stage&) { aOpened.set_value(); }});
  auto aDone = std::async(std::launch::async, [&] { return a.Run(); });
  ASSERT_EQ(aOpened.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);

  Player b(Options("b"), HostFacts{});
  b.Run();

  // Keys until A's wait takes one: one sent before the wait began is not seen.
  InputEvent key;
  key.kind = InputEvent::Kind::kKey;
  key.key = 0x41;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (aDone.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready &&
         std::chrono::steady_clock::now() < deadline)
    a.PostInput(key);
  ASSERT_EQ(aDone.wait_for(std::chrono::seconds(0)), std::future_status::ready) << "A never ended";
  aDone.get();

  const struct {
    const char* player;
    double mark;
  } cases[] = {{"a", 1}, {"b", 2}};
  for (const auto& c : cases) {
    TraceFacts facts = ReadTrace(dir_ / c.player / "trace.jsonl");
    // next.kvs came from the player's own archive.
    EXPECT_EQ(facts.who, c.mark) << c.player;
    // Still playing when it jumped to lost.kvs, it asked, in its own box.
    EXPECT_EQ(std::count(facts.texts.begin(), facts.texts.end(), "lost.kvs is not in project.  Continue?  (Yes or No)"),
              1)
        << c.player;
  }
}

}  // namespace
}  // namespace kv
