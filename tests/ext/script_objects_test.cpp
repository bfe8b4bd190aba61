#include "ext/script_objects.h"

#include <gtest/gtest.h>

#include "orlan/engine.h"

namespace kv {
namespace {

class Counted : public HostObject {
 public:
  explicit Counted(HostClassId cls) : HostObject(cls) {}
  void Shutdown() override { ++shutdowns; }
  int shutdowns = 0;
};

// Handles from dropped, forged or other classes' objects find nothing, and
// an object is shut down once, when it is unlinked.
TEST(HostObjectTable, HandlesFindOnlyTheirLiveObject) {
  orlan::Engine engine;
  HostObjectTable table(engine);
  auto xml = std::make_shared<Counted>(HostClassId::kXmlReader);
  auto browser = std::make_shared<Counted>(HostClassId::kFileBrowser);
  const uint32_t hx = table.Add(xml), hb = table.Add(browser);
  ASSERT_NE(hx, 0u);
  ASSERT_NE(hx, hb);
  const struct {
    const char* name;
    uint32_t handle;
    HostClassId cls;
    bool found;
  } cases[] = {
      {"own class", hx, HostClassId::kXmlReader, true},
      {"other class", hx, HostClassId::kFileBrowser, false},
      {"browser", hb, HostClassId::kFileBrowser, true},
      {"nothing", 0, HostClassId::kXmlReader, false},
      {"forged", hx + hb + 100, HostClassId::kXmlReader, false},
  };
  for (const auto& c : cases) EXPECT_EQ(table.Find(c.handle, c.cls) != nullptr, c.found) << c.name;

  table.Release(hx);
  table.Release(hx);
  EXPECT_EQ(xml->shutdowns, 1);
  EXPECT_TRUE(xml->deleted());
  EXPECT_EQ(table.Find(hx, HostClassId::kXmlReader), nullptr);
  EXPECT_EQ(table.CountOf(HostClassId::kXmlReader), 0u);
  // A new object never takes a handle still live.
  EXPECT_NE(table.Add(std::make_shared<Counted>(HostClassId::kXmlReader)), hb);
  table.ShutdownAll();
  EXPECT_EQ(browser->shutdowns, 1);
  EXPECT_EQ(table.Find(hb, HostClassId::kFileBrowser), nullptr);
}

}  // namespace
}  // namespace kv
