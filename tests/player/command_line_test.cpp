// The original command line: switches and their values, the finishing of
// the record, and the long options beside them.
#include "player/command_line.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(CommandLine, OriginalSwitchesFillTheRecordAndAreFinished) {
  const struct {
    const char* what;
    std::vector<std::string> args;
    std::string file, plugin, project, baseUrl, siteId, att, server;
    bool pluginMode;
  } cases[] = {
      {"file alone", {"a.kvp"}, "a.kvp", "", "", "", "", "", "", false},
      {"project name trimmed and unquoted", {"/project", " \"Intro\" ", "a.kvp"}, "a.kvp", "", "Intro", "", "", "", "",
       false},
      {"base address trimmed, lower-cased, unquoted", {"-baseurl", " \"HTTP://Host/Dir\"", "x.kvg"}, "x.kvg", "", "",
       "http://host/dir", "", "", "", false},
      {"plugin mode from a plugin name", {"/plugin", "\"viewer\"", "a.kvp"}, "a.kvp", "viewer", "", "", "", "", "",
       true},
      {"a value that is a switch is the next switch", {"/server", "/siteid", "42", "a.kvp"}, "a.kvp", "", "", "", "42",
       "", "", false},
      {"a switch at the end without its value", {"a.kvp", "/att"}, "a.kvp", "", "", "", "", "", "", false},
      {"only switches: no file", {"/siteid", "7", "/project"}, "", "", "", "", "7", "", "", false},
      {"quotes stay inside, leave at the ends", {"/att", "\"a \"b\" c\"", "\"my file.kvp\""}, "my file.kvp", "", "", "",
       "", "a \"b\" c", "", false},
      {"the first plain argument is the file", {"a.kvp", "b.kvp", "/server", "0x1F"}, "a.kvp", "", "", "", "", "",
       "0x1F", false},
  };
  for (const auto& c : cases) {
    PlayerOptions o;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(c.args, o, error)) << c.what << ": " << error;
    EXPECT_EQ(o.fileName, c.file) << c.what;
    EXPECT_EQ(o.pluginName, c.plugin) << c.what;
    EXPECT_EQ(o.projectName, c.project) << c.what;
    EXPECT_EQ(o.baseUrl, c.baseUrl) << c.what;
    EXPECT_EQ(o.siteId, c.siteId) << c.what;
    EXPECT_EQ(o.attValue, c.att) << c.what;
    EXPECT_EQ(o.serverWindow, c.server) << c.what;
    EXPECT_EQ(o.pluginMode, c.pluginMode) << c.what;
  }
}

TEST(CommandLine, LongOptionsWithoutTheirValuesAreUsageErrors) {
  const struct {
    std::vector<std::string> args;
    const char* error;
  } cases[] = {
      {{"a.kvp", "--print-to"}, "option --print-to needs a value"},
      {{"a.kvp", "--print-to", ""}, "--print-to needs a file name"},
      {{"a.kvp", "--trace"}, "option --trace needs a value"},
      {{"a.kvp", "--host-timeout"}, "option --host-timeout needs a value"},
      {{"a.kvp", "--host-timeout", "0"}, "--host-timeout needs a time above 0"},
      {{"a.kvp", "--host-timeout", "-5"}, "option --host-timeout needs a whole number, not \"-5\""},
  };
  for (const auto& c : cases) {
    PlayerOptions o;
    std::string error;
    EXPECT_FALSE(ParseCommandLine(c.args, o, error)) << c.error;
    EXPECT_EQ(error, c.error);
  }
  PlayerOptions o;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"--print-to", "out.pdf", "a.kvp"}, o, error)) << error;
  EXPECT_EQ(o.printTo, "out.pdf");
  EXPECT_EQ(o.fileName, "a.kvp");
  PlayerOptions hosted;
  EXPECT_EQ(hosted.hostTimeoutMs, 15000);  // the original's time-out unless a test shortens it
  ASSERT_TRUE(ParseCommandLine({"/plugin", "h", "--host-timeout", "250", "a.kvp"}, hosted, error)) << error;
  EXPECT_EQ(hosted.hostTimeoutMs, 250);
  EXPECT_TRUE(hosted.pluginMode);
}

}  // namespace
}  // namespace kv
