#include "net/upload.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <thread>

#include "net/socket.h"
#include "platform/message_box.h"
#include "tests/net/loopback_server.h"
#include "tests/net/net_doubles.h"

namespace kv {
namespace {

using test::LoopbackServer;
using test::Report;
using test::ServerStep;
namespace fs = std::filesystem;

// The file: 8 bytes, with a CR LF inside to show the body is sent as is.
const std::string kFileBytes("\xFF\xD8" "ab\r\n\xFF\xD9", 8);

// Derived by hand from the layout. The boundary B is 29 dashes and
// "7d02a419178082c" (44 characters); the Content-Type parameter drops B's
// first two dashes (27 dashes). Content-Length counts:
//   title part  B(44) CRLF(2) `Content-Disposition: form-data; name="Title"`(44)
//               CRLF CRLF(4) "Holiday"(7) CRLF(2)                        = 103
//   file head   B(44) CRLF(2) `Content-Disposition: form-data; name="File"; filename="`(55)
//               "pic.jpg"(7) `"` CRLF(3) "Content-Type: image/jpeg"(24) CRLF CRLF(4) = 139
//   closing     CRLF(2) B(44) "--"(2)                                    = 48
//   file bytes                                                           = 8
//   total                                                                = 298
const std::string kExpectedRequest =
    "POST /cgi-bin/up.cgi HTTP/1.0\r\n"
    "Content-Type:multipart/form-data;boundary=---------------------------7d02a419178082c\r\n"
    "User-Agent: KvTest/1.0\r\n"
    "Content-Length: 298\r\n"
    "\r\n"
    "-----------------------------7d02a419178082c\r\n"
    "Content-Disposition: form-data; name=\"Title\"\r\n"
    "\r\n"
    "Holiday\r\n"
    "-----------------------------7d02a419178082c\r\n"
    "Content-Disposition: form-data; name=\"File\"; filename=\"pic.jpg\"\r\n"
    "Content-Type: image/jpeg\r\n"
    "\r\n" +
    kFileBytes +
    "\r\n"
    "-----------------------------7d02a419178082c--";

const std::vector<ServerStep> kAnswerOk = {ServerStep::ReadRequest(), ServerStep::Send("HTTP/1.0 200 OK\r\n\r\n")};

class UploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "kvuploadXXXXXX").string();
    dir_ = ::mkdtemp(tmpl.data());
    old_ = fs::current_path();
    fs::current_path(dir_);  // the file name travels in the request: keep it short and fixed
    std::ofstream(dir_ / "pic.jpg", std::ios::binary) << kFileBytes;
  }
  void TearDown() override {
    EXPECT_TRUE(WaitIdle());
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  static bool WaitIdle() {
    for (int i = 0; i < 500 && test::Net()->uploadCounter.load() != -1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return test::Net()->uploadCounter.load() == -1;
  }
  MultipartUploadArgs Args(const std::string& host, int pieces = 0) {
    MultipartUploadArgs a;
    a.host = host;
    a.filePath = "pic.jpg";
    a.pieces = pieces;
    a.callback = "OnUpload";
    a.target = "/cgi-bin/up.cgi";
    a.userAgent = "KvTest/1.0";
    a.title = "Holiday";
    return a;
  }

  std::shared_ptr<test::RecordingPoster> poster_ = std::make_shared<test::RecordingPoster>();
  test::PosterScope scope_{poster_};
  fs::path dir_, old_;
};

TEST_F(UploadTest, RequestMatchesLayoutByteForByte) {
  LoopbackServer server(kAnswerOk);
  ASSERT_TRUE(HttpUploadMultipartForm(test::Net(), Args(server.Url("/"))));
  EXPECT_EQ(poster_->WaitFor(1), (std::vector<Report>{{"OnUpload", "HTTP/1.0 200 OK\r\n", -1}}));
  EXPECT_EQ(server.Requests().at(0), kExpectedRequest);
}

TEST_F(UploadTest, RequestTextGoesToTheLogNotABox) {
  test::LogCapture log;
  ScriptedMessageBox boxes;
  SetMessageBoxes(&boxes);
  LoopbackServer server(kAnswerOk);
  ASSERT_TRUE(HttpUploadMultipartForm(test::Net(), Args(server.Url("/"))));
  poster_->WaitFor(1);
  ASSERT_TRUE(WaitIdle());
  SetMessageBoxes(nullptr);
  EXPECT_TRUE(boxes.shown().empty());
  EXPECT_NE(log.Text().find(kExpectedRequest.substr(0, kExpectedRequest.find("pic.jpg"))), std::string::npos)
      << log.Text();
}

TEST_F(UploadTest, PiecesReportedThenResponse) {
  LoopbackServer server(kAnswerOk);
  ASSERT_TRUE(HttpUploadMultipartForm(test::Net(), Args(server.Url("/"), 4)));
  // 4 pieces of a length that 4 does not divide: a fifth carries the rest.
  size_t total = kExpectedRequest.size();
  ASSERT_NE(total % 4, 0u);
  std::vector<Report> want;
  for (int i = 1; i <= 5; ++i) want.push_back({"OnUpload", "", i});
  want.push_back({"OnUpload", "HTTP/1.0 200 OK\r\n", -1});
  EXPECT_EQ(poster_->WaitFor(6), want);
  EXPECT_EQ(server.Requests().at(0), kExpectedRequest);
}

TEST_F(UploadTest, NoAgentLineWithoutAgent) {
  MultipartRequest r = BuildMultipartRequest("/t", "", "T", "f", 0);
  EXPECT_EQ(r.head.find("User-Agent"), std::string::npos);
  EXPECT_EQ(r.head.substr(0, 17), "POST /t HTTP/1.0\r");
  EXPECT_EQ(r.closing, "\r\n-----------------------------7d02a419178082c--");
}

TEST_F(UploadTest, OneAtATime) {
  LoopbackServer server({ServerStep::Pause(400), ServerStep::ReadRequest(), ServerStep::Send("HTTP/1.0 200 OK\r\n\r\n")},
                        2);
  ASSERT_TRUE(HttpUploadMultipartForm(test::Net(), Args(server.Url("/"))));
  EXPECT_FALSE(HttpUploadMultipartForm(test::Net(), Args(server.Url("/"))));
  EXPECT_FALSE(HttpUploadMultipartForm(test::Net(), Args(server.Url("/"))));
  EXPECT_EQ(test::Net()->uploadCounter.load(), 2);  // refused calls stay counted until the upload ends
  EXPECT_EQ(poster_->WaitFor(1).size(), 1u);
  ASSERT_TRUE(WaitIdle());
  ASSERT_TRUE(HttpUploadMultipartForm(test::Net(), Args(server.Url("/"))));
  EXPECT_EQ(poster_->WaitFor(2).size(), 2u);
}

TEST_F(UploadTest, LineBreaksRefused) {
  for (auto set : {+[](MultipartUploadArgs& a) { a.target = "/x HTTP/1.0\r\nX-Evil: 1"; },
                   +[](MultipartUploadArgs& a) { a.userAgent = "agent\n"; },
                   +[](MultipartUploadArgs& a) { a.title = "a\rb"; },
                   +[](MultipartUploadArgs& a) { a.filePath = "pic\n.jpg"; }}) {
    MultipartUploadArgs a = Args("http://127.0.0.1:9/");
    set(a);
    EXPECT_FALSE(HttpUploadMultipartForm(test::Net(), a));
    EXPECT_EQ(test::Net()->uploadCounter.load(), -1);
  }
  EXPECT_TRUE(poster_->WaitFor(0).empty());
}

TEST_F(UploadTest, FailuresReachTheCallback) {
  using S = ServerStep;
  const struct {
    const char* name;
    std::vector<ServerStep> script;
    const char* file;
    Report want;
  } cases[] = {
      {"missing file", kAnswerOk, "missing.jpg", {"OnUpload", "Thread Crashed", 0}},
      {"a directory", kAnswerOk, ".", {"OnUpload", "Thread Crashed", 0}},
      {"no answer", {S::ReadRequest(), S::Close()}, "pic.jpg", {"OnUpload", "", 0}},
  };
  size_t seen = 0;
  for (const auto& c : cases) {
    LoopbackServer server(c.script);
    MultipartUploadArgs a = Args(server.Url("/"));
    a.filePath = c.file;
    ASSERT_TRUE(HttpUploadMultipartForm(test::Net(), a)) << c.name;
    std::vector<Report> got = poster_->WaitFor(++seen);
    ASSERT_EQ(got.size(), seen) << c.name;
    EXPECT_EQ(got.back(), c.want) << c.name;
    ASSERT_TRUE(WaitIdle());
  }
  // Nobody listening: the socket error ends the thread with its report.
  MultipartUploadArgs a = Args("http://127.0.0.1:" + std::to_string(test::FreeLoopbackPort()) + "/");
  test::LogCapture log;
  ASSERT_TRUE(HttpUploadMultipartForm(test::Net(), a));
  EXPECT_EQ(poster_->WaitFor(seen + 1).back(), (Report{"OnUpload", "Thread Crashed", 0}));
  ASSERT_TRUE(WaitIdle());
  EXPECT_TRUE(std::regex_search(log.Text(), std::regex(R"(WINSOCK ERROR--CLIENT: [0-9/]+ [0-9:]+ GMT -- )"
                                                       R"(Connect error #10061\r\n)")))
      << log.Text();
}

// --- the raw upload: the script's own request around the file's bytes

class RawUploadTest : public UploadTest {
 protected:
  RawUploadArgs Raw(const std::string& host, int pieces = 0) {
    RawUploadArgs a;
    a.header = "PUT /in HTTP/1.0\r\nContent-Length: 13\r\n\r\n";
    a.hostPath = (dir_ / "pic.jpg").string();
    a.trailer = "[end]";
    a.host = host;
    a.pieces = pieces;
    a.callback = "OnRaw";
    return a;
  }
  // Waits until the upload reported its last step (a number below -1).
  std::vector<Report> Finished() {
    for (int i = 0; i < 500; ++i) {
      auto got = poster_->WaitFor(0, 0);
      if (!got.empty() && got.back().number < -1) return got;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return poster_->WaitFor(0, 0);
  }
};

TEST_F(RawUploadTest, SendsHeaderFileTrailerAndReportsEachStep) {
  LoopbackServer server({ServerStep::ReadRequest(), ServerStep::Send("HTTP/1.0 201 Created\r\n\r\n")});
  ASSERT_TRUE(HttpUploadRaw(test::Net(), Raw(server.Url("/"), 3)));
  // 40 + 8 + 5 = 53 bytes in 3 pieces of 17 and a fourth with the 2 left.
  const std::vector<Report> want = {{"OnRaw", "Connecting", -1},  {"OnRaw", "Uploading", -1},
                                    {"OnRaw", "", 1},             {"OnRaw", "", 2},
                                    {"OnRaw", "", 3},             {"OnRaw", "", 4},
                                    {"OnRaw", "Getting Response", -1}, {"OnRaw", "HTTP/1.0 201 Created\r\n", -3}};
  EXPECT_EQ(Finished(), want);
  EXPECT_EQ(server.Requests().at(0), "PUT /in HTTP/1.0\r\nContent-Length: 13\r\n\r\n" + kFileBytes + "[end]");
}

TEST_F(RawUploadTest, FailuresEndWithTheirReport) {
  using S = ServerStep;
  const struct {
    const char* name;
    std::vector<ServerStep> script;
    std::optional<std::string> file;  // relative to the test's folder
    Report last;
    size_t reports;
  } cases[] = {
      {"missing file", kAnswerOk, "missing.jpg", {"OnRaw", "HTTPUpload - Missing File", -2}, 1},
      {"a directory", kAnswerOk, ".", {"OnRaw", "HTTPUpload - Missing File", -2}, 1},
      {"no answer", {S::ReadRequest(), S::Close()}, "pic.jpg", {"OnRaw", "No HTTP Server Response", -2}, 4},
      {"reset", {S::ReadRequest(), S::Reset()}, "pic.jpg", {"OnRaw", "HTTP Transmission Failure", -2}, 4},
      {"no file at all", kAnswerOk, std::nullopt, {"OnRaw", "HTTP/1.0 200 OK\r\n", -3}, 4},
  };
  for (const auto& c : cases) {
    auto poster = std::make_shared<test::RecordingPoster>();
    test::PosterScope scope(poster);
    LoopbackServer server(c.script);
    RawUploadArgs a = Raw(server.Url("/"));
    a.hostPath = c.file ? std::optional<std::string>((dir_ / *c.file).string()) : std::nullopt;
    if (!c.file) a.header = "PUT /in HTTP/1.0\r\nContent-Length: 5\r\n\r\n";
    ASSERT_TRUE(HttpUploadRaw(test::Net(), a)) << c.name;
    std::vector<Report> got = poster->WaitFor(c.reports);
    ASSERT_EQ(got.size(), c.reports) << c.name;
    EXPECT_EQ(got.back(), c.last) << c.name;
    if (!c.file) {
      EXPECT_EQ(server.Requests().at(0), a.header + a.trailer);
    }
  }
}

TEST_F(RawUploadTest, RefusedConnection) {
  ASSERT_TRUE(HttpUploadRaw(test::Net(), Raw("http://127.0.0.1:" + std::to_string(test::FreeLoopbackPort()) + "/")));
  EXPECT_EQ(Finished(), (std::vector<Report>{{"OnRaw", "Connecting", -1}, {"OnRaw", "HTTP Transmission Failure", -2}}));
}

TEST_F(RawUploadTest, CancelEndsWithoutWaitingForTheServer) {
  // The server reads and never answers: only the cancel can end the upload.
  LoopbackServer server({ServerStep::ReadRequest(), ServerStep::Pause(3000)});
  std::atomic<int> asked{0};
  RawUploadArgs a = Raw(server.Url("/"), 4);
  a.cancelled = [&] { return ++asked >= 3; };  // two pieces go, the third is refused
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(HttpUploadRaw(test::Net(), a));
  const std::vector<Report> got = Finished();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_EQ(got, (std::vector<Report>{{"OnRaw", "Connecting", -1},
                                      {"OnRaw", "Uploading", -1},
                                      {"OnRaw", "", 1},
                                      {"OnRaw", "", 2},
                                      {"OnRaw", "HTTP Transmission Failure", -2}}));
}

TEST_F(RawUploadTest, SilentServerTimesOutBySetting) {
  LoopbackServer server({ServerStep::ReadRequest(), ServerStep::Pause(4000)});
  test::Net()->SetTimeout(1);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(HttpUploadRaw(test::Net(), Raw(server.Url("/"))));
  const std::vector<Report> got = Finished();
  test::Net()->SetTimeout(CBlockingSocket::kDefaultTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3500));
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.back(), (Report{"OnRaw", "HTTP Transmission Failure", -2}));
}

// --- web publishing as a PUT

TEST_F(UploadTest, WebPutSendsTheFileWithTheSiteName) {
  LoopbackServer server({ServerStep::ReadRequest(), ServerStep::Send("HTTP/1.0 204 No Content\r\n\r\n")});
  EXPECT_EQ(WebPut(*test::Net(), (dir_ / "pic.jpg").string(), server.Url("/site/pic.jpg"), "My Site"), 0);
  EXPECT_EQ(server.Requests().at(0), "PUT /site/pic.jpg HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                                         "\r\nX-Site-Name: My Site\r\nContent-Length: 8\r\n\r\n" + kFileBytes);
}

TEST_F(UploadTest, WebPutResults) {
  const std::string pic = (dir_ / "pic.jpg").string();
  const std::string refused = "http://127.0.0.1:" + std::to_string(test::FreeLoopbackPort()) + "/x";
  const struct {
    const char* name;
    std::string file, destination, site;
    int32_t want;
  } cases[] = {
      {"ftp destination", pic, "ftp://127.0.0.1/x", "s", kWebPostBadArgument},
      {"no scheme", pic, "127.0.0.1/x", "s", kWebPostBadArgument},
      {"missing file", (dir_ / "none.jpg").string(), "http://127.0.0.1:9/x", "s", kWebPostBadArgument},
      {"no file", "", "http://127.0.0.1:9/x", "s", kWebPostBadArgument},
      {"line break in site", pic, "http://127.0.0.1:9/x", "a\r\nX: y", kWebPostBadArgument},
      {"refused", pic, refused, "s", kWebPostFailed},
  };
  for (const auto& c : cases) EXPECT_EQ(WebPut(*test::Net(), c.file, c.destination, c.site), c.want) << c.name;
  LoopbackServer server({ServerStep::ReadRequest(), ServerStep::Send("HTTP/1.0 403 Forbidden\r\n\r\n")});
  EXPECT_EQ(WebPut(*test::Net(), pic, server.Url("/x"), "s"), kWebPostFailed);
}

}  // namespace
}  // namespace kv
