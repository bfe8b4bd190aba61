#include "net/socket.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <unistd.h>
#include <netdb.h>
#include <regex>
#include <sys/resource.h>

#include "platform/message_box.h"

#include "tests/net/loopback_server.h"
#include "tests/net/net_doubles.h"

namespace kv {
namespace {

using test::LoopbackServer;
using test::ServerStep;

TEST(CBlockingSocketException, Messages) {
  const struct {
    const char* text;
    int code;
    size_t size;
    const char* message;
  } cases[] = {
      {"Connect", 10061, 256, "Connect error #10061"},
      {"Receive timeout", 0, 256, "Receive timeout error"},
      {"Send", 10054, 8, "Send er"},  // cut to the caller's 8-byte buffer, terminator included
      {"Close", 0, 1, ""},
  };
  for (const auto& c : cases) {
    CBlockingSocketException e(c.text, c.code);
    EXPECT_EQ(e.GetErrorMessage(c.size), c.message) << c.text;
    EXPECT_EQ(e.code(), c.code);
  }
  EXPECT_STREQ(CBlockingSocketException("Connect", 10061).what(), "Connect error #10061");
}

TEST(WinSockError, FromErrnoAndResolver) {
  const std::pair<int, int> errnos[] = {{ECONNREFUSED, 10061}, {ETIMEDOUT, 10060}, {ECONNRESET, 10054},
                                        {EPIPE, 10054},        {EAGAIN, 10035},    {EHOSTUNREACH, 10065},
                                        {EADDRINUSE, 10048},   {EINTR, 10004},     {0, 0}};
  for (auto [err, wsa] : errnos) EXPECT_EQ(WinSockErrorFromErrno(err), wsa) << err;
  EXPECT_EQ(WinSockErrorFromResolver(EAI_NONAME), 11001);
  EXPECT_EQ(WinSockErrorFromResolver(EAI_AGAIN), 11002);
  EXPECT_EQ(WinSockErrorFromResolver(EAI_FAIL), 11003);
}

TEST(SocketErrorLine, Layout) {
  std::string line = SocketErrorLine("CLIENT:", CBlockingSocketException("Connect", 10061));
  EXPECT_TRUE(std::regex_match(line, std::regex(R"(WINSOCK ERROR--CLIENT: \d\d/\d\d/\d\d \d\d:\d\d:\d\d GMT -- )"
                                                R"(Connect error #10061)")))
      << line;
}

TEST(StartSockets, OnceAndAgainAfterStop) {
  EXPECT_TRUE(StartSockets());
  EXPECT_TRUE(StartSockets());
  StopSockets();
  EXPECT_TRUE(StartSockets());
}

// Exits 0 when starting without a free descriptor fails, shows message 5080
// once, and a second start answers as the first did.
[[noreturn]] void StartWithoutDescriptors() {
  StopSockets();
  ScriptedMessageBox boxes;
  SetMessageBoxes(&boxes);
  // One box before the limit: a sanitizer's type check of the call needs a
  // descriptor the first time it meets the type.
  ShowMessage("before", "");
  rlimit old{};
  ::getrlimit(RLIMIT_NOFILE, &old);
  rlimit none{0, old.rlim_max};
  ::setrlimit(RLIMIT_NOFILE, &none);  // the proving socket cannot be made
  bool first = StartSockets();
  ::setrlimit(RLIMIT_NOFILE, &old);
  bool again = StartSockets();  // could succeed now, but answers as the first call did
  bool shown = boxes.shown().size() == 2 &&
               boxes.shown()[1].text == "Unable to initialize socket services.  Remote file access will be disabled.";
  std::_Exit(!first && !again && shown ? 0 : 1);
}

TEST(StartSocketsDeathTest, FailureShowsMessageAndSticks) {
  // In a child process: the services' state is process-wide and a failure stays.
  EXPECT_EXIT(StartWithoutDescriptors(), ::testing::ExitedWithCode(0), "");
}

TEST(GetHostByName, UrlHostAndFailure) {
  sockaddr_in a = CBlockingSocket::GetHostByName("http://127.0.0.1:9/x", 8080);
  EXPECT_EQ(ntohl(a.sin_addr.s_addr), INADDR_LOOPBACK);
  EXPECT_EQ(ntohs(a.sin_port), 8080);  // the caller's port, not the URL's
  try {
    CBlockingSocket::GetHostByName("no-such-host.invalid", 80);
    ADD_FAILURE() << "resolved an invalid name";
  } catch (const CBlockingSocketException& e) {
    EXPECT_EQ(e.text(), "GetHostByName");
    EXPECT_NE(e.code(), 0);
  }
}

void ConnectLoopback(CBlockingSocket& s, uint16_t port) {
  s.Create(CBlockingSocket::kStream);
  s.Connect(CBlockingSocket::GetHostByName("127.0.0.1", port), 5);
}

TEST(ReadHttpHeaderLine, JoinsSegmentsAndSplitsLines) {
  LoopbackServer server({ServerStep::Send("HTTP/1.0 2"), ServerStep::Pause(50), ServerStep::Send("00 OK\r\nA: b\r\nC"),
                         ServerStep::Pause(50), ServerStep::Send(": d\nlast without end")});
  CHttpBlockingSocket s;
  ConnectLoopback(s, server.port());
  EXPECT_EQ(s.ReadHttpHeaderLine(), "HTTP/1.0 200 OK\r\n");
  EXPECT_EQ(s.ReadHttpHeaderLine(), "A: b\r\n");
  EXPECT_EQ(s.ReadHttpHeaderLine(), "C: d\n");
  EXPECT_EQ(s.ReadHttpHeaderLine(), "");  // closed: the unended tail is no line
}

TEST(ReadHttpHeaderLine, ResetIsSocketError) {
  LoopbackServer server({ServerStep::Send("HTTP/1.0"), ServerStep::Pause(50), ServerStep::Reset()});
  CHttpBlockingSocket s;
  ConnectLoopback(s, server.port());
  try {
    s.ReadHttpHeaderLine();
    ADD_FAILURE() << "a reset connection gave a line";
  } catch (const CBlockingSocketException& e) {
    EXPECT_EQ(e.GetErrorMessage(), "Socket_Error error #10054");
  }
}

TEST(ReadHttpHeaderLine, EndlessLineIsRefused) {
  LoopbackServer server({ServerStep::Send(std::string(CHttpBlockingSocket::kMaxLine + 1000, 'x'))});
  CHttpBlockingSocket s;
  ConnectLoopback(s, server.port());
  EXPECT_THROW(s.ReadHttpHeaderLine(), CBlockingSocketException);
}

TEST(Receive, TimeoutAndStop) {
  LoopbackServer server({ServerStep::Pause(3000)});
  CBlockingSocket s(test::Net().get());
  ConnectLoopback(s, server.port());
  char buf[16];
  try {
    s.Receive(buf, sizeof buf, 1);
    ADD_FAILURE() << "no time-out";
  } catch (const CBlockingSocketException& e) {
    EXPECT_EQ(e.GetErrorMessage(), "Receive timeout error");
  }
  test::SwitchStop stop;
  stop.stop = true;
  test::StopScope scope(&stop);
  try {
    s.Receive(buf, sizeof buf, 10);
    ADD_FAILURE() << "the stop test was not seen";
  } catch (const CBlockingSocketException& e) {
    EXPECT_EQ(e.GetErrorMessage(), "Receive error #10004");
  }
}

TEST(WriteWithProgress, Pieces) {
  const struct {
    int pieces;
    size_t length;
    std::vector<int32_t> reported;
  } cases[] = {
      {3, 10, {1, 2, 3, 4}},  // three pieces of 3 bytes, then the remaining byte
      {5, 10, {1, 2, 3, 4, 5}},
      {10, 10, {}},  // as many pieces as bytes: at once
      {0, 10, {}},   // no pieces: at once
      {-4, 10, {}},
  };
  for (const auto& c : cases) {
    auto poster = std::make_shared<test::RecordingPoster>();
    LoopbackServer server({ServerStep::ReadRequest()});
    std::string data(c.length, 'z');  // no blank line: the server reads until we close
    {
      CHttpBlockingSocket s;
      ConnectLoopback(s, server.port());
      s.WriteWithProgress(data.data(), data.size(), 5, c.pieces, nullptr, "OnUp", poster);
    }
    EXPECT_EQ(server.Requests().at(0), data) << c.pieces;
    std::vector<int32_t> got;
    for (const test::Report& r : poster->WaitFor(0)) {
      EXPECT_EQ(r.callback, "OnUp");
      EXPECT_EQ(r.text, "");
      got.push_back(r.number);
    }
    EXPECT_EQ(got, c.reported) << c.pieces;
  }
}

// The tools print a WinSock number with words beside it: through the errno
// it stands for, the resolver's own numbers, or the errno value itself.
TEST(WinSockErrorText, WordsForTheNumbers) {
  const struct {
    int code;
    const char* text;
  } cases[] = {
      {10061, "connection refused"},   // ECONNREFUSED
      {10060, "connection timed out"}, // ETIMEDOUT
      {10054, "connection reset by peer"},
      {11001, "host not found"},
      {11002, "temporary failure in name resolution"},
      {2, "no such file or directory"},  // an errno value from a failed write
      {10999, "error 10999"},
  };
  for (const auto& c : cases) EXPECT_EQ(WinSockErrorText(c.code), c.text) << c.code;
}

// A file between two texts: the whole goes out in order, whichever pieces
// cut it, straight from the file.
class TempFile {
 public:
  explicit TempFile(const std::string& bytes) {
    char name[] = "/tmp/kvsocketXXXXXX";
    fd_ = ::mkstemp(name);
    path_ = name;
    EXPECT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  ~TempFile() {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  std::string path_;
};

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 23);
  return s;
}

TEST(WriteWithProgress, TextsAndAFileInPieces) {
  const struct {
    int pieces;
    size_t fileBytes;
    int reports;
  } cases[] = {
      {0, 1000, 0},        // at once
      {7, 1000, 8},        // pieces cut inside the file and across its edges
      {3, 0, 4},           // an empty file between the texts
      {40, 3 << 20, 41},  // a large file in many pieces
  };
  for (const auto& c : cases) {
    const std::string fileBytes = Pattern(c.fileBytes);
    TempFile file(fileBytes);
    OutgoingBytes bytes;
    bytes.AddText("head-");
    bytes.AddFile(file.fd(), fileBytes.size());
    bytes.AddText("-tail");
    EXPECT_EQ(bytes.size(), fileBytes.size() + 10);
    auto poster = std::make_shared<test::RecordingPoster>();
    LoopbackServer server({ServerStep::ReadRequest()});
    {
      CHttpBlockingSocket s;
      ConnectLoopback(s, server.port());
      s.WriteWithProgress(bytes, 5, c.pieces, nullptr, "OnUp", poster);
    }
    EXPECT_TRUE(server.Requests().at(0) == "head-" + fileBytes + "-tail") << c.pieces << " " << c.fileBytes;
    EXPECT_EQ(static_cast<int>(poster->WaitFor(0).size()), c.reports) << c.pieces;
  }
}

TEST(WriteOutgoingBytes, AFileShorterThanPromisedFails) {
  TempFile file("12345");
  OutgoingBytes bytes;
  bytes.AddFile(file.fd(), 50);
  LoopbackServer server({ServerStep::ReadRequest()});
  CHttpBlockingSocket s;
  ConnectLoopback(s, server.port());
  try {
    s.Write(bytes, 0, bytes.size(), 5);
    ADD_FAILURE() << "a short file was sent as if whole";
  } catch (const CBlockingSocketException& e) {
    EXPECT_EQ(e.GetErrorMessage(), "Send file ended early error");
  }
}

TEST(WriteOutgoingBytes, APeerThatGoesRaisesNoSignal) {
  // A peer that resets without reading: sending a large file fails with an
  // error, and the process is not ended by SIGPIPE (nor left with one
  // pending). The pause lets the connection finish first: a reset that
  // arrives while connecting fails the connect, not the write under test.
  TempFile file(Pattern(16 << 20));
  OutgoingBytes bytes;
  bytes.AddFile(file.fd(), 16 << 20);
  LoopbackServer server({ServerStep::Pause(200), ServerStep::Reset()});
  CHttpBlockingSocket s;
  ConnectLoopback(s, server.port());
  EXPECT_THROW(s.Write(bytes, 0, bytes.size(), 5), CBlockingSocketException);
  sigset_t pending;
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

TEST(WriteWithProgress, CancelStopsEarly) {
  auto poster = std::make_shared<test::RecordingPoster>();
  LoopbackServer server({ServerStep::ReadRequest()});
  std::atomic<int32_t> cancel{-1};
  {
    CHttpBlockingSocket s;
    ConnectLoopback(s, server.port());
    s.WriteWithProgress("0123456789", 10, 5, 5, [&] { return cancel.load() == -1; }, "OnUp", poster);
  }
  EXPECT_EQ(server.Requests().at(0), "");
  EXPECT_TRUE(poster->WaitFor(0).empty());
}

}  // namespace
}  // namespace kv
