#include "net/upload.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

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

}  // namespace
}  // namespace kv
