// The trace's last line is its end line, whatever the teardown after it does.
#include "player/json_trace.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "engine/clock.h"

namespace kv {
namespace {

std::string Lines(FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  char buf[512];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  return text;
}

TEST(JsonTrace, NothingIsWrittenAfterTheEndLine) {
  Clock clock(true);
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  {
    JsonTrace trace(clock, f, false);
    trace.Movie("clip", "play", 0);
    trace.End(0, {}, {});
    // A movie stopped while the run's threads are torn down.
    trace.Movie("clip", "stop", 3);
    trace.End(1, {}, {});
  }
  const std::string text = Lines(f);
  std::fclose(f);
  EXPECT_EQ(text,
            "{\"t\":0,\"ev\":\"movie\",\"insert\":\"clip\",\"op\":\"play\",\"frame\":0}\n"
            "{\"t\":0,\"ev\":\"end\",\"code\":0,\"vars\":[],\"rw\":{}}\n");
}

}  // namespace
}  // namespace kv
