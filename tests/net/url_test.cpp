#include "net/url.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

struct ParseCase {
  const char* text;
  bool ok;
  int type;
  const char* host;
  int port;
  const char* path;
};

TEST(ParseUrl, Table) {
  const ParseCase cases[] = {
      {"http://example.com/x", true, kSchemeHttp, "example.com", 80, "/x"},
      {"http://example.com:8080/x", true, kSchemeHttp, "example.com", 8080, "/x"},
      {"HTTP://Host/a/b.kvs", true, kSchemeHttp, "Host", 80, "/a/b.kvs"},
      {"http://example.com", false, 0, "", 0, ""},           // no path after the host
      {"ftp://files.example/pub/", true, kSchemeFtp, "files.example", 21, "/pub/"},
      {"telnet://h/", true, kSchemeTelnet, "h", 23, "/"},
      {"gopher://h/", false, 0, "", 0, ""},                  // no default port
      {"gopher://h:70/", true, kSchemeGopher, "h", 70, "/"},
      {"http://h:0/p", true, kSchemeHttp, "h", 80, "/p"},     // port 0 means the default
      {"http:/h/p", false, 0, "", 0, ""},                    // needs "://"
      {"no colon here", false, 0, "", 0, ""},
      {" http://h /a b", true, kSchemeHttp, "h", 80, "/ab"},  // blanks are dropped
      {"http:\\\\h\\dir\\f.kvp", true, kSchemeHttp, "h", 80, "/dir/f.kvp"},
      {"news://h:99999/", false, 0, "", 0, ""},              // port out of range
  };
  for (const ParseCase& c : cases) {
    UrlRecord url;
    url.port = 1234;
    EXPECT_EQ(ParseUrl(c.text, url), c.ok) << c.text;
    EXPECT_EQ(url.type, c.type) << c.text;
    EXPECT_EQ(url.host, c.host) << c.text;
    EXPECT_EQ(url.port, c.port) << c.text;
    EXPECT_EQ(url.path, c.path) << c.text;
  }
}

TEST(NormalizeUrl, KeepsDriveAndNetworkPaths) {
  EXPECT_EQ(NormalizeUrl("C:\\My Files\\a.kvp"), "C:\\My Files\\a.kvp");
  EXPECT_EQ(NormalizeUrl("\\\\server\\share\\a b"), "\\\\server\\share\\a b");
  EXPECT_EQ(NormalizeUrl("dir\\sub\\a b.kvs\t"), "dir/sub/ab.kvs");
  EXPECT_EQ(NormalizeUrl(std::string("a\x01" "b\x7f" "c")), "abc");
}

TEST(IsAbsoluteName, Table) {
  const std::pair<const char*, bool> cases[] = {
      {"http://h/x", true}, {"C:\\a", true},  {"C:", false},       {"  C:a", true}, {"\\\\srv\\x", true},
      {"//srv/x", true},    {"\\a\\b", false}, {"scene1.kvs", false}, {"./a", false}, {"", false},
  };
  for (auto [text, abs] : cases) EXPECT_EQ(IsAbsoluteName(text), abs) << text;
}

}  // namespace
}  // namespace kv
