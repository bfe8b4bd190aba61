// `kvtool check` on a generated project of 10,000 inserts and 2,000 files,
// against `kvtool dump` of every document of the same project (what check
// must read in any case). One child process per run.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr int kScenes = 20;
constexpr int kInsertsPerDocument = 10000 / (kScenes + 1) + 1;  // 10,011 in all
constexpr int kDocuments = kScenes + 1;
constexpr int kAssets = 2000 - kDocuments;                       // 2,000 files in all

bool Spawn(const std::vector<std::string>& args, const fs::path& out = "/dev/null") {
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const int err = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return false;
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) <= 1;
}

Json Rect() { return {{"left", 0}, {"top", 0}, {"right", 16}, {"bottom", 16}}; }

// Pictures, sounds and jumps by turns, each naming a file of the project or
// an object of the scene.
Json Insert(int doc, int i) {
  const std::string asset = "asset" + std::to_string((doc * kInsertsPerDocument + i) % kAssets);
  switch (i % 4) {
    case 0:
      return {{"class", "CDisplay"}, {"active", 1}, {"name", "pic" + std::to_string(i)}, {"showMode", 0},
              {"rect", Rect()}, {"pictureFile", asset + ".bmp"}};
    case 1:
      return {{"class", "CFileAudio"}, {"active", 1}, {"name", "snd" + std::to_string(i)}, {"fileName", asset + ".wav"}};
    case 2:
      return {{"class", "CFlow"}, {"active", 1}, {"name", "hide" + std::to_string(i)}, {"command", 13},
              {"argument", "pic" + std::to_string(i - 2)}};
    default:
      return {{"class", "CCalc"}, {"active", 1}, {"name", "calc" + std::to_string(i)}, {"resultName", "score"},
              {"firstName", "score"}, {"firstIsConstant", 0}, {"secondName", "1"}, {"secondIsConstant", 1}};
  }
}

struct Project {
  fs::path dir;
  std::vector<fs::path> documents;
  Project() {
    dir = fs::temp_directory_path() / "korvel-check-bench";
    fs::remove_all(dir);
    fs::create_directories(dir);
    Json tree = Json::array({{{"class", "CProjNode"}, {"kind", 0}, {"level", 0}, {"path", "main.kvp"}}});
    for (int s = 0; s < kScenes; ++s)
      tree.push_back({{"class", "CProjNode"}, {"kind", 4}, {"level", 1}, {"path", "scene" + std::to_string(s) + ".kvs"}});
    for (int d = 0; d < kDocuments; ++d) {
      Json items = Json::array();
      if (d == 0)
        items.push_back({{"class", "CVar"}, {"active", 1}, {"groupName", "G"},
                         {"items", {{{"class", "CVarsItem"}, {"type", 3}, {"name", "score"}}}}});
      for (int i = 0; i < kInsertsPerDocument; ++i) items.push_back(Insert(d, i));
      Json doc = {{"class", "CStgDoc"}, {"items", items}};
      if (d == 0) {
        doc["isProject"] = 1;
        doc["projectTree"] = tree;
      } else {
        doc["isScene"] = 1;
      }
      const std::string name = d == 0 ? "main.kvp" : "scene" + std::to_string(d - 1) + ".kvs";
      const fs::path json = dir / (name + ".json");
      std::ofstream(json) << doc.dump();
      Spawn({KV_KVTOOL, "pack", json.string(), "-o", (dir / name).string(), "--partial"});
      fs::remove(json);
      documents.push_back(dir / name);
    }
    for (int a = 0; a < kAssets; ++a)
      std::ofstream(dir / ("asset" + std::to_string(a) + (a % 2 ? ".wav" : ".bmp"))) << "RIFF";
    // Even assets are pictures and odd ones sounds, so about half of the
    // names are missing: the check also writes a long report.
  }
  ~Project() { fs::remove_all(dir); }
};

Project& TheProject() {
  static Project project;
  return project;
}

void BM_Check(benchmark::State& state) {
  Project& p = TheProject();
  for (auto _ : state)
    if (!Spawn({KV_KVTOOL, "check", (p.dir / "main.kvp").string()})) state.SkipWithError("kvtool check failed");
}
BENCHMARK(BM_Check)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_DumpEveryDocument(benchmark::State& state) {
  Project& p = TheProject();
  for (auto _ : state)
    for (const fs::path& doc : p.documents)
      if (!Spawn({KV_KVTOOL, "dump", doc.string()})) state.SkipWithError("kvtool dump failed");
}
BENCHMARK(BM_DumpEveryDocument)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
