// The requestor against scripted hosts over a socket pair: resources
// served, refused, hosts that fall silent, send garbage, go away mid-answer
// or announce more than the cap. Time-outs are cut to milliseconds.
#include "net/requestor.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "net/host_connection.h"
#include "net/temp_folder.h"
#include "tests/net/locator_test_util.h"

namespace kv {
namespace {

using host::HostConnection;
using host::Message;

class RecordingEvents : public RequestorEvents {
 public:
  std::deque<HostFailureChoice> answers;
  std::atomic<int> asked{0};
  std::atomic<int> endedCode{-1};
  std::atomic<bool> endedAfterAbort{false};
  std::string endReason;
  std::mutex lock;
  std::atomic<uint32_t> copiedFormat{0};

  HostFailureChoice HostNotResponding() override {
    std::lock_guard g(lock);
    ++asked;
    if (answers.empty()) return HostFailureChoice::Ignore;
    auto a = answers.front();
    answers.pop_front();
    return a;
  }
  void HostEnded(int code, bool afterAbort, const std::string& reason) override {
    std::lock_guard g(lock);
    endReason = reason;
    endedAfterAbort = afterAbort;
    endedCode = code;
  }
  bool CopyStage(uint32_t format) override {
    copiedFormat = format;
    return format == 2;
  }
};

// What the scripted host saw.
struct HostLog {
  std::vector<Message> messages;  // names and values; data views are not kept
  int keepAlives = 0;
  std::vector<uint32_t> cancels;
};

// The host's script after the connect: runs on its own thread with the
// host's end of the pair.
using HostScript = std::function<void(HostConnection&, HostLog&)>;

// Reads until a request arrives (keep-alives and cancels are logged).
bool NextRequest(HostConnection& c, HostLog& log, Message& m, int timeoutMs = 5000) {
  for (;;) {
    if (c.Receive(m, timeoutMs) != HostConnection::Received::Message) return false;
    if (m.kind == host::kKeepAlive) ++log.keepAlives;
    if (m.kind == host::kCancel) log.cancels.push_back(m.id);
    Message copy = m;
    copy.data = {};
    log.messages.push_back(copy);
    if (m.kind == host::kRequest) return true;
    if (m.kind == host::kDisconnect) return false;
  }
}

// Logs what the player says until it disconnects or goes.
void Drain(HostConnection& c, HostLog& log) {
  Message m;
  while (NextRequest(c, log, m, 3000)) {
  }
}

class RequestorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    options.timeoutMs = 150;
    options.keepAliveMs = 20;
    options.sliceMs = 5;
    options.maxResourceBytes = 1000;
  }
  void TearDown() override {
    requestor.reset();
    if (host.joinable()) host.join();
  }
  // Starts a host that accepts the connection (or not) and then follows `script`.
  bool Start(HostScript script, bool accept = true) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
    host = std::thread([this, fd = fds[1], script, accept] {
      HostConnection c(fd);
      Message m;
      if (c.Receive(m, 5000) != HostConnection::Received::Message || m.kind != host::kConnect) return;
      c.SendRaw(host::EncodeReply(m.seq, accept ? 1 : 0));
      if (accept) script(c, log);
    });
    requestor = std::make_unique<RRRequestor>(TempFolder(scratch.path()), options, events);
    std::string error;
    return requestor->Connect(fds[0], error);
  }
  std::string Fetch(const std::string& name, int* found) { return requestor->PluginGetRemoteResource(name, found); }

  test::ScratchDir scratch;
  RequestorOptions options;
  RecordingEvents events;
  HostLog log;
  std::thread host;
  std::unique_ptr<RRRequestor> requestor;
};

// The host answers the request with id 7 and then `answer`.
HostScript AnswerWith(std::function<void(HostConnection&, uint32_t id, const std::string& name)> answer) {
  return [answer](HostConnection& c, HostLog& log) {
    Message m;
    if (!NextRequest(c, log, m)) return;
    c.SendRaw(host::EncodeReply(m.seq, 7));
    answer(c, 7, m.name);
    Drain(c, log);
  };
}

TEST_F(RequestorTest, AServedResourceIsStreamedIntoAGlmFile) {
  const std::string content(70000, 'k');  // more than one chunk
  const std::string source = scratch / "source.bin";
  test::WriteBytes(source, std::vector<uint8_t>(content.begin(), content.end()));
  options.maxResourceBytes = 100000;
  ASSERT_TRUE(Start(AnswerWith([&](HostConnection& c, uint32_t id, const std::string& name) {
    EXPECT_TRUE(c.SendFile(id, name, source));
  })));
  int found = 0;
  const std::string path = Fetch("  pics/Photo.bmp ", &found);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(std::filesystem::path(path).parent_path(), std::filesystem::path(scratch.path()));
  EXPECT_EQ(std::filesystem::path(path).filename().string().substr(0, 3), "glm");
  EXPECT_EQ(std::filesystem::path(path).extension(), ".bmp");
  const auto got = test::ReadBytes(path);
  EXPECT_EQ(std::string(got.begin(), got.end()), content);
  requestor->Disconnect();
  host.join();
  ASSERT_FALSE(log.messages.empty());
  EXPECT_EQ(log.messages.front().name, "pics/Photo.bmp");  // trimmed
  EXPECT_EQ(log.messages.back().kind, host::kDisconnect);
  EXPECT_EQ(events.endedCode, -1);  // our own disconnect is no host ending
}

struct Misbehaviour {
  const char* what;
  std::function<void(HostConnection&, uint32_t, const std::string&)> answer;
  std::string result;        // what the fetch answers
  int found;
  int endedCode;             // -1: the connection lives on
  bool cancelled;            // the player told the host to stop sending
};

TEST_F(RequestorTest, AnswersThatAreNotAFileLeaveNoFile) {
  const Misbehaviour cases[] = {
      {"refused", [](HostConnection& c, uint32_t id, const std::string& n) { c.SendRaw(host::EncodeRefused(id, n)); },
       kAbortAnswer, 0, -1, false},
      {"2 GB announced",
       [](HostConnection& c, uint32_t id, const std::string&) { c.SendRaw(host::EncodeBegin(id, 2ull << 30)); },
       kFailAnswer, 0, -1, true},
      {"more bytes than announced",
       [](HostConnection& c, uint32_t id, const std::string&) {
         c.SendRaw(host::EncodeBegin(id, 3));
         c.SendRaw(host::EncodeData(id, "abcd"));
       },
       kFailAnswer, 0, -1, true},
      {"fewer bytes than announced",
       [](HostConnection& c, uint32_t id, const std::string& n) {
         c.SendRaw(host::EncodeBegin(id, 5));
         c.SendRaw(host::EncodeData(id, "ab"));
         c.SendRaw(host::EncodeDelivered(id, n));
       },
       kFailAnswer, 0, -1, false},
      {"bytes before their size",
       [](HostConnection& c, uint32_t id, const std::string&) { c.SendRaw(host::EncodeData(id, "ab")); }, kFailAnswer,
       0, -1, true},
      {"closed mid-answer",
       [](HostConnection& c, uint32_t id, const std::string&) {
         c.SendRaw(host::EncodeBegin(id, 10));
         c.SendRaw(host::EncodeData(id, "abc"));
         c.Close();
       },
       kFailAnswer, 0, 1, false},
      {"garbage",
       [](HostConnection& c, uint32_t, const std::string&) { c.SendRaw(std::string(64, '\xEE')); }, kFailAnswer, 0, 1,
       false},
      {"a player's message",
       [](HostConnection& c, uint32_t, const std::string&) { c.SendRaw(host::EncodeKeepAlive()); }, kFailAnswer, 0, 1,
       false},
      {"quit", [](HostConnection& c, uint32_t, const std::string&) { c.SendRaw(host::EncodeQuit(7)); }, kFailAnswer, 0,
       0, false},
  };
  for (const Misbehaviour& m : cases) {
    SCOPED_TRACE(m.what);
    events.endedCode = -1;
    log = {};
    ASSERT_TRUE(Start(AnswerWith(m.answer)));
    int found = 1;
    EXPECT_EQ(Fetch("a.bmp", &found), m.result);
    EXPECT_EQ(found, m.found);
    for (int i = 0; i < 100 && events.endedCode != m.endedCode; ++i) usleep(2000);
    EXPECT_EQ(events.endedCode, m.endedCode);
    if (m.endedCode != -1) {
      EXPECT_FALSE(requestor->Connected());
    }
    requestor->Disconnect();
    host.join();
    const bool cancelled = !log.cancels.empty();
    EXPECT_EQ(cancelled, m.cancelled);
    if (cancelled) {
      EXPECT_EQ(log.cancels.front(), 7u);
    }
    // Nothing half-written stays behind.
    EXPECT_TRUE(test::ListDir(scratch.path()).empty());
    EXPECT_EQ(events.asked, 0);
  }
}

TEST_F(RequestorTest, ARequestIdOfZeroIsARefusalAndLongNamesAreNotSent) {
  ASSERT_TRUE(Start([](HostConnection& c, HostLog& log) {
    Message m;
    if (!NextRequest(c, log, m)) return;
    c.SendRaw(host::EncodeReply(m.seq, 0));
    Drain(c, log);
  }));
  int found = 1;
  EXPECT_EQ(Fetch(std::string(501, 'n'), &found), "");  // never asked
  EXPECT_EQ(Fetch(std::string(496, 'n') + ".bmp", &found), "");  // 500: asked, refused with 0
  requestor->Disconnect();
  host.join();
  ASSERT_EQ(log.messages.size(), 2u);
  EXPECT_EQ(log.messages[0].name.size(), 500u);
  EXPECT_EQ(log.messages[1].kind, host::kDisconnect);
}

TEST_F(RequestorTest, SilenceAsksRetryAbortIgnore) {
  struct Case {
    const char* what;
    bool replies;  // the host gives the request an id, then says nothing
    std::vector<HostFailureChoice> answers;
    std::string result;
    int asked;
    int endedCode;
  } cases[] = {
      {"no reply, ignore", false, {HostFailureChoice::Ignore}, "", 1, -1},
      {"no reply, retry then ignore", false, {HostFailureChoice::Retry, HostFailureChoice::Ignore}, "", 2, -1},
      {"no reply, abort", false, {HostFailureChoice::Abort}, "", 1, 1},
      {"no answer, ignore", true, {HostFailureChoice::Ignore}, kFailAnswer, 1, -1},
      {"no answer, retry then ignore", true, {HostFailureChoice::Retry, HostFailureChoice::Ignore}, kFailAnswer, 2,
       -1},
      {"no answer, abort", true, {HostFailureChoice::Abort}, kFailAnswer, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    events.asked = 0;
    events.endedCode = -1;
    events.answers.assign(c.answers.begin(), c.answers.end());
    log = {};
    const bool replies = c.replies;
    ASSERT_TRUE(Start([replies](HostConnection& conn, HostLog& log) {
      Message m;
      if (!NextRequest(conn, log, m)) return;
      if (replies) conn.SendRaw(host::EncodeReply(m.seq, 7));
      Drain(conn, log);
    }));
    int found = 1;
    EXPECT_EQ(Fetch("slow.bmp", &found), c.result);
    EXPECT_EQ(events.asked, c.asked);
    EXPECT_EQ(events.endedCode, c.endedCode);
    if (c.endedCode == 1) {
      EXPECT_TRUE(events.endedAfterAbort);
    }
    requestor->Disconnect();
    host.join();
    // The wait kept the host informed: keep-alives every 20 ms of 150.
    if (c.replies) {
      EXPECT_GE(log.keepAlives, 2);
    }
  }
}

TEST_F(RequestorTest, ConnectIsRefusedOrAccepted) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  host = std::thread([fd = fds[1]] {
    HostConnection c(fd);
    Message m;
    if (c.Receive(m, 5000) == HostConnection::Received::Message) c.SendRaw(host::EncodeReply(m.seq, 0));
  });
  RRRequestor r(TempFolder(scratch.path()), options, events);
  std::string error;
  EXPECT_FALSE(r.Connect(fds[0], error));
  EXPECT_NE(error.find("refused"), std::string::npos) << error;
  EXPECT_FALSE(r.Connected());
  // Unconnected, a name comes back as it was given.
  int found = 1;
  EXPECT_EQ(r.PluginGetRemoteResource("a.bmp", &found), "a.bmp");
}

TEST_F(RequestorTest, TheHostMayAskForTheStageOnTheClipboard) {
  std::atomic<uint32_t> replied{99};
  ASSERT_TRUE(Start([&replied](HostConnection& c, HostLog&) {
    c.SendRaw(host::EncodeClipboard(41, 2));
    Message m;
    while (c.Receive(m, 3000) == HostConnection::Received::Message)
      if (m.kind == host::kReply && m.seq == 41) {
        replied = m.value;
        break;
      }
  }));
  for (int i = 0; i < 500 && replied == 99u; ++i) usleep(2000);
  EXPECT_EQ(events.copiedFormat, 2u);
  EXPECT_EQ(replied, 1u);
}

TEST(RequestorServer, OpensOnlySocketsAndSocketPaths) {
  test::ScratchDir scratch;
  struct Case {
    std::string server;
    const char* mention;
  } cases[] = {
      {"fd:x", "fd:N"},
      {"fd:", "fd:N"},
      {"fd:0" /* standard input under ctest is no socket */, "not an open socket"},
      {std::string(200, 'p'), "not a socket path"},
      {scratch / "missing.sock", "cannot connect"},
      {"0x1A2B", "cannot connect"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(RRRequestor::OpenServer(c.server, error), -1) << c.server;
    EXPECT_NE(error.find(c.mention), std::string::npos) << c.server << ": " << error;
  }
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  std::string error;
  EXPECT_EQ(RRRequestor::OpenServer("fd:" + std::to_string(fds[0]), error), fds[0]) << error;
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace kv
