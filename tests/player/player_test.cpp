// Two players in one process: each opens its own project (a compilation,
// or loose files in a folder of its own), finds its stored names there,
// keeps its own play state, message boxes and display depth, and its stop
// cancels its own HTTP transfer only, although the other one opens, plays
// and ends while the first is still playing.
#include "player/player.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <condition_variable>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <set>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <png.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "ext/register.h"
#include "imaging/picture_loader.h"
#include "inserts/stage_host.h"
#include "net/kvg_archive.h"
#include "persist/document.h"
#include "persist/json_fields.h"
#include "stage/pixel_format.h"

namespace kv {
namespace {

using Json = nlohmann::ordered_json;

// show.kvp: the project. A variable `who`; optionally a wait for any key
// (conditions 128); a call of next.kvs (command 0), found in the project's
// own archive or folder; optionally the picture pic.bmp, found there too,
// 8 x 8 with its left edge at `pictureLeft`; a jump to the scene lost.kvs
// (command 53), which is in no tree: a playing run asks whether to go on.
std::vector<uint8_t> ProjectBytes(bool waitForKey, bool withPicture = false, int pictureLeft = 0) {
  Json items = Json::parse(R"([
    {"class": "CVar", "active": 1, "groupName": "G",
     "items": [{"class": "CVarsItem", "type": 3, "name": "who", "initialValue": 0}]},
    {"class": "CFlow", "active": 1, "name": "callNext", "command": 0, "argument": "next.kvs"},
    {"class": "CFlow", "active": 1, "name": "toLost", "command": 53, "argument": "lost.kvs"},
    {"class": "CBottom", "active": 1}])");
  if (withPicture) {
    Json pic = Json::parse(R"({"class": "CDisplay", "active": 1, "name": "pic", "showMode": 0,
      "rect": {"top": 0, "bottom": 8}, "pictureFile": "pic.bmp"})");
    pic["rect"]["left"] = pictureLeft;
    pic["rect"]["right"] = pictureLeft + 8;
    items.insert(items.begin() + 2, pic);
  }
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
  std::optional<double> avail;
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
    for (const Json& v : j["vars"]) {
      if (v.value("group", "") == "G" && v.value("var", "") == "who") facts.who = v["value"].get<double>();
      if (v.value("group", "") == "G" && v.value("var", "") == "avail") facts.avail = v["value"].get<double>();
    }
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

// Posts the key every 50 ms until the run has ended or a minute has passed;
// answers whether it ended.
bool KeyUntilEnded(Player& player, std::future<int>& done, uint32_t key,
                   std::chrono::steady_clock::time_point deadline) {
  InputEvent event;
  event.kind = InputEvent::Kind::kKey;
  event.key = key;
  while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready &&
         std::chrono::steady_clock::now() < deadline)
    player.PostInput(event);
  return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

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
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  ASSERT_TRUE(KeyUntilEnded(a, aDone, 0x41, deadline)) << "A never ended";
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

// ---- loose-file projects

constexpr ColorRef kPictureColor{0x00123456};  // R 0x56, G 0x34, B 0x12: not exact in RGB565

// An 8x8 24-bit BMP of one colour: the 14-byte file header, the 40-byte
// info header (width, height, 1 plane, 24 bits, no compression), then the
// rows bottom-up as B, G, R (24 bytes a row, already a multiple of 4).
std::vector<uint8_t> SolidBmp(ColorRef c) {
  std::vector<uint8_t> b;
  auto u16 = [&](uint32_t v) { b.push_back(uint8_t(v)), b.push_back(uint8_t(v >> 8)); };
  auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  const uint32_t pixels = 8 * 8 * 3;
  b.push_back('B'), b.push_back('M');
  u32(54 + pixels), u32(0), u32(54);
  u32(40), u32(8), u32(8), u16(1), u16(24), u32(0), u32(pixels), u32(2835), u32(2835), u32(0), u32(0);
  for (int i = 0; i < 64; ++i) b.push_back(c.Blue()), b.push_back(c.Green()), b.push_back(c.Red());
  return b;
}

// show.kvp whose Orlan code (show.ebs) asks whether `url` exists and keeps
// the answer in G.avail.
std::vector<uint8_t> RemoteProjectBytes() {
  Json doc = Json::parse(R"({"class": "CStgDoc", "isProject": 1, "defaultGroup": "G",
    "settings": {"clientWidth": 32, "clientHeight": 24},
    "projectTree": [{"class": "CProjNode", "kind": 0, "level": 0, "path": "show.kvp", "orlanFile": "show.ebs"}],
    "items": [
      {"class": "CVar", "active": 1, "groupName": "G",
       "items": [{"class": "CVarsItem", "type": 2, "name": "avail", "initialValue": 5}]},
      {"class": "CFlow", "active": 1, "name": "ask", "command": 33, "argument": "main"},
      {"class": "CBottom", "active": 1}]})");
  return std::static_pointer_cast<CStgDoc>(ObjectFromJson(doc, true))->Store();
}

void WriteBytes(const std::filesystem::path& file, const std::vector<uint8_t>& bytes) {
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The RGB of one pixel of a PNG file; nothing when it cannot be read.
std::optional<ColorRef> PngPixel(const std::filesystem::path& file, int x, int y) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, file.c_str())) return std::nullopt;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return std::nullopt;
  const size_t at = (size_t(y) * image.width + size_t(x)) * 3;
  return ColorRef::FromRgb(rgb[at], rgb[at + 1], rgb[at + 2]);
}

// Where each player's picture is: A's at the left of the stage, B's beside it.
constexpr int kPictureLeftA = 0, kPictureLeftB = 16;

TEST_F(TwoPlayers, LooseFilesResolveInTheirOwnFoldersAtTheirOwnDepths) {
  // The same stored names in both folders, with different contents.
  for (const auto& [name, mark] : {std::pair{"a", 1.0}, std::pair{"b", 2.0}}) {
    const bool isA = std::string(name) == "a";
    WriteBytes(dir_ / name / "show.kvp", ProjectBytes(isA, true, isA ? kPictureLeftA : kPictureLeftB));
    WriteBytes(dir_ / name / "next.kvs", NextBytes(mark));
    WriteBytes(dir_ / name / "pic.bmp", SolidBmp(kPictureColor));
  }
  auto options = [&](const char* name, int depth) {
    PlayerOptions o = Options(name);
    o.fileName = (dir_ / name / "show.kvp").string();
    o.depth = depth;
    o.renderDir = (dir_ / name / "frames").string();
    o.answers = {"yes"};  // going on without lost.kvs: the run idles at its end
    return o;
  };
  // A, at 32 bits, has its stage and waits for a key; B, at 16 bits, opens
  // from another folder, plays and ends meanwhile; then A shows its picture.
  Player a(options("a", 32), HostFacts{});
  std::promise<void> aOpened;
  a.AttachWindow(WindowServices{.stageReady = [&](Stage&) { aOpened.set_value(); }});
  auto aDone = std::async(std::launch::async, [&] { return a.Run(); });
  ASSERT_EQ(aOpened.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);

  PlayerOptions bOptions = options("b", 16);
  bOptions.untilIdle = true;
  Player b(bOptions, HostFacts{});
  b.Run();

  // Keys until A's wait takes one, and A idles at its end (its second idle
  // frame); then its exit key.
  InputEvent key;
  key.kind = InputEvent::Kind::kKey;
  key.key = 0x41;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!std::filesystem::exists(dir_ / "a" / "frames" / "frame-0002.png") &&
         std::chrono::steady_clock::now() < deadline) {
    a.PostInput(key);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(KeyUntilEnded(a, aDone, kDefaultExitKey, deadline)) << "A never ended";
  aDone.get();

  const struct {
    const char* player;
    double mark;
    ColorRef picture;  // as the player's display depth keeps it
    int ownLeft, otherLeft;
  } cases[] = {{"a", 1, kPictureColor, kPictureLeftA, kPictureLeftB},
               {"b", 2, FromRgb565(ToRgb565(kPictureColor)), kPictureLeftB, kPictureLeftA}};
  for (const auto& c : cases) {
    TraceFacts facts = ReadTrace(dir_ / c.player / "trace.jsonl");
    // next.kvs came from the player's own folder.
    EXPECT_EQ(facts.who, c.mark) << c.player;
    // Each asked once, in its own box.
    EXPECT_EQ(std::count(facts.texts.begin(), facts.texts.end(), "lost.kvs is not in project.  Continue?  (Yes or No)"),
              1)
        << c.player;
    // Every frame that shows the picture (unlike the stage below it) shows
    // it as the player's depth keeps it, and no frame ever shows anything
    // where the other player's picture is: each insert reaches only the
    // stage of its own run.
    std::set<uint32_t> shown;
    for (const auto& frame : std::filesystem::directory_iterator(dir_ / c.player / "frames")) {
      std::optional<ColorRef> at = PngPixel(frame.path(), c.ownLeft + 4, 4), beside = PngPixel(frame.path(), 20, 20),
                              other = PngPixel(frame.path(), c.otherLeft + 4, 4);
      ASSERT_TRUE(at && beside && other) << frame.path();
      if (*at != *beside) shown.insert(at->value);
      EXPECT_EQ(*other, *beside) << frame.path();
    }
    EXPECT_EQ(shown, std::set<uint32_t>{c.picture.value}) << c.player;
  }
  EXPECT_NE(FromRgb565(ToRgb565(kPictureColor)), kPictureColor);
}

// A loopback HTTP peer that reads one request per connection and answers
// only when told to: until then the client's transfer waits.
class HeldServer {
 public:
  HeldServer() {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listen_, 4) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      throw std::runtime_error("no loopback listener");
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~HeldServer() {
    ::shutdown(listen_, SHUT_RDWR);
    thread_.join();
    ::close(listen_);
    for (auto& [path, fd] : held_) ::close(fd);
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  // Waits until a request for each path is held.
  bool WaitFor(const std::vector<std::string>& paths) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(60), [&] {
      return std::all_of(paths.begin(), paths.end(), [&](const std::string& p) { return held_.count(p) > 0; });
    });
  }
  // Whether the client of `path` has closed its end (its transfer ended).
  bool ClientClosed(const std::string& path) {
    std::lock_guard lock(mutex_);
    char c;
    return ::recv(held_.at(path), &c, 1, MSG_DONTWAIT) == 0;
  }
  void Answer(const std::string& path) {
    std::lock_guard lock(mutex_);
    const std::string ok = "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n";
    ASSERT_EQ(::send(held_.at(path), ok.data(), ok.size(), MSG_NOSIGNAL), ssize_t(ok.size()));
    ::shutdown(held_.at(path), SHUT_WR);
  }

 private:
  void Serve() {
    for (;;) {
      int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      std::string request;
      char buf[512];
      while (request.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, size_t(n));
      }
      // "GET /path HTTP/1.0"
      const size_t from = request.find(' ') + 1;
      std::lock_guard lock(mutex_);
      held_[request.substr(from, request.find(' ', from) - from)] = fd;
      changed_.notify_all();
    }
  }
  int listen_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, int> held_;
};

TEST_F(TwoPlayers, StopOfOneCancelsItsOwnTransferOnly) {
  HeldServer server;
  for (const char* name : {"a", "b"}) {
    WriteBytes(dir_ / name / "show.kvp", RemoteProjectBytes());
    std::ofstream(dir_ / name / "show.ebs") << "Sub main\r\n  kvSetBool \"avail\", kvIsRemoteResourceAvailable(\""
                                            << server.Url(std::string("/") + name) << "\")\r\nEnd Sub\r\n";
  }
  auto options = [&](const char* name) {
    PlayerOptions o = Options(name);
    o.fileName = (dir_ / name / "show.kvp").string();
    return o;
  };
  Player a(options("a"), HostFacts{});
  Player b(options("b"), HostFacts{});
  auto aDone = std::async(std::launch::async, [&] { return a.Run(); });
  auto bDone = std::async(std::launch::async, [&] { return b.Run(); });
  ASSERT_TRUE(server.WaitFor({"/a", "/b"})) << "the players never asked";

  // The exit key on A's stage: A's transfer ends long before its 15 s
  // time-out, and A's run with it.
  InputEvent escape;
  escape.kind = InputEvent::Kind::kKey;
  escape.key = kDefaultExitKey;
  const auto stoppedAt = std::chrono::steady_clock::now();
  a.PostInput(escape);
  ASSERT_EQ(aDone.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "A's transfer was not cancelled";
  EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, std::chrono::seconds(5));
  aDone.get();

  // B's transfer still waits for its answer, and gets it.
  EXPECT_FALSE(server.ClientClosed("/b"));
  EXPECT_EQ(bDone.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
  server.Answer("/b");
  ASSERT_EQ(bDone.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(bDone.get(), 0);

  EXPECT_NE(ReadTrace(dir_ / "a" / "trace.jsonl").avail, -1);  // A never learnt that /a exists
  EXPECT_EQ(ReadTrace(dir_ / "b" / "trace.jsonl").avail, -1);  // True
}

}  // namespace
}  // namespace kv
