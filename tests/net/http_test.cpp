#include "net/http.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "net/socket.h"
#include "tests/net/loopback_server.h"
#include "tests/net/net_doubles.h"

namespace kv {
namespace {

using test::LoopbackServer;
using test::ServerStep;
namespace fs = std::filesystem;

// ---- header parsing -------------------------------------------------------

struct HeaderCase {
  const char* text;
  bool found;
  uint16_t major, minor, status;
  uint32_t length;
  HttpStatus::Length lengthState;
  const char* type;
};

TEST(ParseHttpStatusHeader, Table) {
  using L = HttpStatus::Length;
  const HeaderCase cases[] = {
      {"HTTP/1.0 200 OK\r\nContent-Length: 12\r\nContent-Type: text/plain\r\n\r\n", true, 1, 0, 200, 12, L::kGiven,
       "text/plain"},
      {"HTTP/1.1 404 Not Found\n\n", true, 1, 1, 404, 0, L::kAbsent, ""},             // bare LF
      {"http/1.0 200 OK\r\ncontent-length:  7 \r\nCONTENT-TYPE:x\r\n\r\n", true, 1, 0, 200, 7, L::kGiven, "x"},
      {"HTTP/1.0 200 OK\r\n\r\nContent-Length: 9\r\n", true, 1, 0, 200, 0, L::kAbsent, ""},  // after the blank line
      {"HTTP/1.0 200 OK\r\nContent-Length: 12abc\r\n\r\n", true, 1, 0, 200, 0, L::kMalformed, ""},
      {"HTTP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n", true, 1, 0, 200, 0, L::kMalformed, ""},
      {"HTTP/1.0 200 OK\r\nContent-Length:\r\n\r\n", true, 1, 0, 200, 0, L::kMalformed, ""},
      {"HTTP/1.0 200 OK\r\nContent-Length: 4294967295\r\n\r\n", true, 1, 0, 200, 4294967295u, L::kGiven, ""},
      {"HTTP/1.0 200 OK\r\nContent-Length: 4294967296\r\n\r\n", true, 1, 0, 200, 0, L::kMalformed, ""},
      {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n", true, 1, 0, 200, 5, L::kMalformed, ""},
      {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\nContent-Length: 5\r\n\r\n", true, 1, 0, 200, 5, L::kGiven, ""},
      // 19 characters kept of "application/x-shockwave-flash"
      {"HTTP/1.0 200 OK\r\nContent-Type: application/x-shockwave-flash\r\n\r\n", true, 1, 0, 200, 0, L::kAbsent,
       "application/x-shock"},
      {"  HTTP/1.0 302 Found  \r\n\r\n", true, 1, 0, 302, 0, L::kAbsent, ""},  // lines are trimmed
      {"Server: x\r\n\r\n", false, 0, 0, 0, 0, L::kAbsent, ""},
      {"HTTP/x\r\n\r\n", false, 0, 0, 0, 0, L::kAbsent, ""},
      {"", false, 0, 0, 0, 0, L::kAbsent, ""},
  };
  for (const HeaderCase& c : cases) {
    HttpStatus s;
    EXPECT_EQ(ParseHttpStatusHeader(c.text, s), c.found) << c.text;
    EXPECT_EQ(s.major, c.major) << c.text;
    EXPECT_EQ(s.minor, c.minor) << c.text;
    EXPECT_EQ(s.status, c.status) << c.text;
    EXPECT_EQ(s.contentLength, c.length) << c.text;
    EXPECT_EQ(s.length, c.lengthState) << c.text;
    EXPECT_EQ(s.contentType, c.type) << c.text;
  }
}

TEST(HttpHeaderLength, Table) {
  const struct {
    const char* text;
    size_t end;     // HttpHeaderEnd
    size_t length;  // HttpHeaderLength
  } cases[] = {
      {"HTTP/1.0 200 OK\r\n\r\nbody", 19, 19},
      {"HTTP/1.0 200 OK\n\nbody", 17, 17},
      {"HTTP/1.0 200 OK\r\nA: b\n\r\nbody", 24, 24},  // mixed endings
      {"HTTP/1.0 200 OK\r\nA: b\r\n", std::string::npos, 0},
      {"HTTP/1.0 200 OK\r\n\r", std::string::npos, 0},  // the blank line is not complete yet
      {"junk\r\nHTTP/1.0 200 OK\r\n\r\nbody", 25, 0},    // not an HTTP start: all of it is body
      {"HTTP/", std::string::npos, 0},
      {"\r\nx", 2, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HttpHeaderEnd(c.text), c.end) << c.text;
    EXPECT_EQ(HttpHeaderLength(c.text), c.length) << c.text;
  }
}

TEST(BuildHttpGetRequest, CarriesHostAndVersion) {
  UrlRecord url{kSchemeHttp, "example.com", 80, "/a/b.kvs"};
  EXPECT_EQ(BuildHttpGetRequest(url), "GET /a/b.kvs HTTP/1.0\r\nHost: example.com\r\n\r\n");
  url.port = 8080;
  EXPECT_EQ(BuildHttpGetRequest(url), "GET /a/b.kvs HTTP/1.0\r\nHost: example.com:8080\r\n\r\n");
}

// ---- HttpGet against a scripted loopback peer ------------------------------

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "kvhttpXXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string File(const char* name) const { return (fs::path(path_) / name).string(); }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Fetched {
  bool ok;
  int error;
  HttpStatus status;
  bool fileExists;
  std::string body;
  uint32_t counted;
};

Fetched Fetch(const std::string& urlText, bool withOutput = true, test::CodeRecorder* codes = nullptr,
              bool showProgress = false) {
  TempDir dir;
  std::string path = dir.File("out.bin");
  HttpFileOutput file(path);
  EXPECT_EQ(file.Open(), 0);
  UrlRecord url;
  EXPECT_TRUE(ParseUrl(urlText, url));
  Fetched f{};
  f.ok = HttpGet(*test::Net(), url, withOutput ? &file : nullptr, f.status, codes ? &test::CodeRecorder::Callback : nullptr, codes,
                 &f.counted, showProgress, f.error);
  file.Finish();
  f.fileExists = fs::exists(path);
  f.body = ReadFile(path);
  return f;
}

struct GetCase {
  const char* name;
  std::vector<ServerStep> script;
  bool ok;
  int error;
  const char* body;  // stored bytes; nullptr when the file must be gone
};

TEST(HttpGet, AgainstScriptedServer) {
  using S = ServerStep;
  const std::string big(70 * 1024, 'h');
  const GetCase cases[] = {
      {"plain", {S::ReadRequest(), S::Send("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello")}, true, 0, "hello"},
      {"status line and headers split across segments",
       {S::ReadRequest(), S::Send("HT"), S::Pause(30), S::Send("TP/1.0 200 OK\r"), S::Pause(30),
        S::Send("\nContent-Le"), S::Pause(30), S::Send("ngth: 5\r\n"), S::Pause(30), S::Send("\r\nhel"),
        S::Pause(30), S::Send("lo")},
       true, 0, "hello"},
      {"bare line feeds", {S::ReadRequest(), S::Send("HTTP/1.0 200 OK\nContent-Length: 2\n\nok")}, true, 0, "ok"},
      {"lower-case names", {S::ReadRequest(), S::Send("HTTP/1.0 200 OK\r\ncontent-length: 2\r\n\r\nok")}, true, 0,
       "ok"},
      {"no length: read to the close", {S::ReadRequest(), S::Send("HTTP/1.0 200 OK\r\n\r\nuntil close")}, true, 0,
       "until close"},
      {"empty body", {S::ReadRequest(), S::Send("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n")}, true, 0, ""},
      {"more than announced is cut",
       {S::ReadRequest(), S::Send("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabcdef")}, true, 0, "abc"},
      {"not found", {S::ReadRequest(), S::Send("HTTP/1.0 404 Not Found\r\nContent-Length: 3\r\n\r\nno!")}, false,
       10013, nullptr},
      {"shorter than announced",
       {S::ReadRequest(), S::Send("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nhalf!"), S::Close()}, false, 10054,
       nullptr},
      {"closed before answering", {S::ReadRequest(), S::Close()}, false, 10054, nullptr},
      {"reset inside the body",
       {S::ReadRequest(), S::Send("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nhalf!"), S::Pause(50), S::Reset()},
       false, 10054, nullptr},
      {"closed inside the header", {S::ReadRequest(), S::Send("HTTP/1.0 200 OK\r\nContent-Len")}, false, 10013,
       nullptr},
      {"malformed length", {S::ReadRequest(), S::Send("HTTP/1.0 200 OK\r\nContent-Length: 5x\r\n\r\nhello")},
       false, 10013, nullptr},
      {"header beyond 64 KiB", {S::ReadRequest(), S::Send("HTTP/1.0 200 OK\r\nX: " + big + "\r\n\r\nbody")}, false,
       10013, nullptr},
      // A first block that does not begin with "HTTP/" is stored whole.
      {"no HTTP start", {S::ReadRequest(), S::Send("junk\r\nHTTP/1.0 200 OK\r\n\r\nbody")}, true, 0,
       "junk\r\nHTTP/1.0 200 OK\r\n\r\nbody"},
      {"no status at all", {S::ReadRequest(), S::Send("just bytes\r\n\r\n")}, false, 10013, nullptr},
  };
  for (const GetCase& c : cases) {
    LoopbackServer server(c.script);
    Fetched f = Fetch(server.Url("/r"));
    EXPECT_EQ(f.ok, c.ok) << c.name;
    EXPECT_EQ(f.error, c.error) << c.name;
    if (c.body) {
      EXPECT_TRUE(f.fileExists) << c.name;
      EXPECT_EQ(f.body, c.body) << c.name;
      EXPECT_EQ(f.counted, std::string(c.body).size()) << c.name;
    } else {
      EXPECT_FALSE(f.fileExists) << c.name << ": a failed download leaves no file";
    }
  }
}

TEST(HttpGet, RefusalIsLogged) {
  test::LogCapture log;
  LoopbackServer server({ServerStep::ReadRequest(), ServerStep::Send("HTTP/1.0 404 Not Found\r\n\r\n")});
  EXPECT_FALSE(Fetch(server.Url("/gone.kvs")).ok);
  EXPECT_NE(log.Text().find("Failed to retrieve 127.0.0.1/gone.kvs:\r\nHTTP/1.0 404 Not Found\r\n"),
            std::string::npos)
      << log.Text();
}

TEST(HttpGet, SendsRequestWithHostHeader) {
  LoopbackServer server({ServerStep::ReadRequest(), ServerStep::Send("HTTP/1.0 200 OK\r\n\r\n")});
  Fetch(server.Url("/dir/file.kvs"));
  std::vector<std::string> got = server.Requests();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], "GET /dir/file.kvs HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(server.port()) + "\r\n\r\n");
}

TEST(HttpGet, ProgressCodesAndWindow) {
  // The body comes in two segments so that code 8 is seen for each.
  LoopbackServer server({ServerStep::ReadRequest(), ServerStep::Send("HTTP/1.0 200 OK\r\nContent-Length: 6\r\n\r\nabc"),
                         ServerStep::Pause(50), ServerStep::Send("def")});
  test::RecordingSink sink;
  test::SinkScope scope(&sink);
  test::CodeRecorder rec;
  Fetched f = Fetch(server.Url("/p"), true, &rec, true);
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(f.body, "abcdef");
  const uint32_t reqLen = static_cast<uint32_t>(std::string("GET /p HTTP/1.0\r\nHost: 127.0.0.1:").size() +
                                                std::to_string(server.port()).size() + 4);
  using P = std::pair<int, uint32_t>;
  ASSERT_GE(rec.codes.size(), 7u);
  std::vector<P> head(rec.codes.begin(), rec.codes.begin() + 7);
  EXPECT_EQ(head, (std::vector<P>{{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, reqLen}, {6, reqLen}, {7, 0}}));
  // After the header: 12 with the length, then each block's body bytes, each receive announced by 7.
  auto at12 = std::find(rec.codes.begin(), rec.codes.end(), P{12, 6});
  ASSERT_NE(at12, rec.codes.end());
  uint32_t bodySum = 0;
  for (auto it = at12 + 1; it != rec.codes.end(); ++it) {
    if (it->first == 8) bodySum += it->second;
    EXPECT_TRUE(it->first == 7 || it->first == 8) << it->first;
  }
  EXPECT_EQ(bodySum, 6u);
  const std::string port = std::to_string(server.port());
  ASSERT_GE(sink.events.size(), 5u);
  EXPECT_EQ(sink.events[0], "start");
  EXPECT_EQ(sink.events[1], "text Connecting to 127.0.0.1, port " + port + "... @0");
  EXPECT_EQ(sink.events[2], "text Requesting resource /p... @0");
  EXPECT_EQ(sink.events[3], "total 6");
  EXPECT_EQ(sink.events.back(), "end");
  EXPECT_NE(std::find(sink.events.begin(), sink.events.end(), "text Received 6 bytes%s of /p @6"), sink.events.end());
}

TEST(HttpGet, WithoutProgressSkipsWindowCodes) {
  LoopbackServer server({ServerStep::ReadRequest(), ServerStep::Send("HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\nx")});
  test::RecordingSink sink;
  test::SinkScope scope(&sink);
  test::CodeRecorder rec;
  ASSERT_TRUE(Fetch(server.Url("/p"), true, &rec, false).ok);
  for (auto [code, value] : rec.codes) EXPECT_TRUE(code != 2 && code != 3 && code != 5) << code;
  EXPECT_TRUE(sink.events.empty());
}

TEST(HttpGet, StalledServerTimesOut) {
  test::Net()->SetTimeout(1);
  LoopbackServer server({ServerStep::ReadRequest(), ServerStep::Send("HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\nabc"),
                         ServerStep::Pause(4000)});
  auto t0 = std::chrono::steady_clock::now();
  Fetched f = Fetch(server.Url("/s"));
  auto took = std::chrono::steady_clock::now() - t0;
  test::Net()->SetTimeout(CBlockingSocket::kDefaultTimeout);
  EXPECT_FALSE(f.ok);
  EXPECT_EQ(f.error, wsa::kEtimedout);
  EXPECT_FALSE(f.fileExists);
  EXPECT_LT(took, std::chrono::milliseconds(2500));
}

TEST(HttpGet, StopTestEndsTheWaitWithinASlice) {
  LoopbackServer server({ServerStep::ReadRequest(), ServerStep::Pause(4000)});
  test::SwitchStop stop;
  test::StopScope scope(&stop);
  std::atomic<std::chrono::steady_clock::rep> flippedAt{0};
  std::thread flip([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop.stop = true;
    flippedAt = std::chrono::steady_clock::now().time_since_epoch().count();
  });
  Fetched f = Fetch(server.Url("/s"));
  auto endedAt = std::chrono::steady_clock::now();
  flip.join();
  EXPECT_FALSE(f.ok);
  EXPECT_EQ(f.error, wsa::kEintr);
  auto after = endedAt - std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(flippedAt.load()));
  EXPECT_LT(after, std::chrono::milliseconds(125 + 250));  // one slice and scheduling slack
}

TEST(HttpGet, RefusedConnection) {
  Fetched f = Fetch("http://127.0.0.1:" + std::to_string(test::FreeLoopbackPort()) + "/x");
  EXPECT_FALSE(f.ok);
  EXPECT_EQ(f.error, wsa::kEconnrefused);
  EXPECT_FALSE(f.fileExists);
}

// An output that reports a full disk a given number of times, after storing
// part of the block each time.
class FullDisk : public HttpOutputStream {
 public:
  explicit FullDisk(int failures) : failures_(failures) {}
  int Write(const char* data, size_t length, size_t& written) override {
    written = failures_ > 0 ? length / 2 : length;
    stored.append(data, written);
    return failures_-- > 0 ? ENOSPC : 0;
  }
  void Discard() override { discarded = true; }
  std::string stored;
  bool discarded = false;

 private:
  int failures_;
};

TEST(HttpGet, DiskFullAsksTheCallback) {
  const struct {
    int failures;
    int answers;  // how many times the callback says "retry"
    bool ok;
  } cases[] = {{1, 1, true}, {2, 2, true}, {2, 1, false}, {1, 0, false}};
  for (const auto& c : cases) {
    LoopbackServer server({ServerStep::ReadRequest(), ServerStep::Send("HTTP/1.0 200 OK\r\nContent-Length: 8\r\n\r\n12345678")});
    UrlRecord url;
    ASSERT_TRUE(ParseUrl(server.Url("/d"), url));
    FullDisk disk(c.failures);
    test::CodeRecorder rec;
    rec.answer = c.answers;
    HttpStatus status;
    int error = 0;
    bool ok = HttpGet(*test::Net(), url, &disk, status, &test::CodeRecorder::Callback, &rec, nullptr, false, error);
    EXPECT_EQ(ok, c.ok) << c.failures << "/" << c.answers;
    EXPECT_EQ(std::count(rec.codes.begin(), rec.codes.end(), std::pair<int, uint32_t>{11, 0}),
              std::min(c.failures, c.answers + 1));
    if (c.ok) {
      EXPECT_EQ(disk.stored, "12345678");  // each retry continues where the write stopped
    }
    EXPECT_EQ(disk.discarded, !c.ok);
    EXPECT_EQ(error, c.ok ? 0 : ENOSPC);
  }
}

TEST(RemoteResource, ExistsAndSize) {
  using S = ServerStep;
  {
    LoopbackServer server({S::ReadRequest(), S::Send("HTTP/1.0 200 OK\r\nContent-Length: 1234\r\n\r\n"), S::Pause(100)},
                          2);
    EXPECT_TRUE(RemoteResourceExists(*test::Net(), server.Url("/f")));
    EXPECT_EQ(RemoteResourceSize(*test::Net(), server.Url("/f")), 1234);
  }
  {
    LoopbackServer server({S::ReadRequest(), S::Send("HTTP/1.0 404 Not Found\r\n\r\n")}, 2);
    EXPECT_FALSE(RemoteResourceExists(*test::Net(), server.Url("/f")));
    EXPECT_EQ(RemoteResourceSize(*test::Net(), server.Url("/f")), -1);
  }
  for (const char* name : {"ftp://127.0.0.1/f", "C:\\dir\\f.kvs", "", "http://127.0.0.1"}) {
    EXPECT_FALSE(RemoteResourceExists(*test::Net(), name)) << name;
    EXPECT_EQ(RemoteResourceSize(*test::Net(), name), -1) << name;
  }
}

}  // namespace
}  // namespace kv
