// The progress line of a run without a window: rewritten in place, cleared
// of what a longer line left, and ended with a newline only when drawn.
#include "player/terminal_progress.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace kv {
namespace {

struct Case {
  const char* name;
  std::function<void(TerminalProgress&)> calls;
  std::string expected;
};

std::string Written(const std::function<void(TerminalProgress&)>& calls) {
  char* data = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&data, &size);
  {
    TerminalProgress p(f);
    calls(p);
  }
  std::fclose(f);
  std::string out(data, size);
  free(data);
  return out;
}

class TerminalProgressTest : public ::testing::TestWithParam<Case> {};

TEST_P(TerminalProgressTest, WritesTheLine) { EXPECT_EQ(Written(GetParam().calls), GetParam().expected); }

const Case kCases[] = {
    {"NothingBeforeStart",
     [](TerminalProgress& p) { p.SetProgressText("Requesting x%s", 0); },
     ""},
    {"NoTextNoNewline",
     [](TerminalProgress& p) {
       p.StartProgress();
       p.EndProgress();
     },
     ""},
    {"PercentOfTheTotal",
     [](TerminalProgress& p) {
       p.StartProgress();
       p.SetProgressTotal(200);
       p.SetProgressText("Got%s", 50);
       p.SetProgressText("Got%s", 200);
       p.EndProgress();
     },
     "\rkorvel: Got 25%\rkorvel: Got 100%\n"},
    {"LargeTotalsCountInKiB",
     [](TerminalProgress& p) {
       p.StartProgress();
       p.SetProgressTotal(1024 * 1000);
       p.SetProgressText("Got%s", 1024 * 500);
       p.EndProgress();
     },
     "\rkorvel: Got 50%\n"},
    {"ShorterLineClearsTheRest",
     [](TerminalProgress& p) {
       p.StartProgress();
       p.SetProgressText("Connecting to example.org%s", 0);
       p.SetProgressText("Sent%s", 0);
       p.EndProgress();
     },
     "\rkorvel: Connecting to example.org\rkorvel: Sent                     \n"},
    {"SameLineOnce",
     [](TerminalProgress& p) {
       p.StartProgress();
       p.SetProgressText("Sent%s", 0);
       p.SetProgressText("Sent%s", 0);
       p.EndProgress();
     },
     "\rkorvel: Sent\n"},
};

INSTANTIATE_TEST_SUITE_P(Lines, TerminalProgressTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kv
