// Class identifiers between their registry text and their stored bytes, and
// the registry's answers. Byte vectors written out by hand: Data1, Data2 and
// Data3 reversed (little-endian numbers), Data4 in order.
#include "inserts/control_registry.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "inserts/ole_control.h"
#include "platform/launcher.h"

namespace kv {
namespace {

struct ClassIdCase {
  const char* text;
  ClassId bytes;
};

const ClassIdCase kClassIds[] = {
    {"{8856F961-340A-11D0-A96B-00C04FD705A2}",
     {0x61, 0xF9, 0x56, 0x88, 0x0A, 0x34, 0xD0, 0x11, 0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2}},
    {"{22D6F312-B0F6-11D0-94AB-0080C74C7E95}",
     {0x12, 0xF3, 0xD6, 0x22, 0xF6, 0xB0, 0xD0, 0x11, 0x94, 0xAB, 0x00, 0x80, 0xC7, 0x4C, 0x7E, 0x95}},
    {"{00000000-0000-0000-0000-000000000000}", {}},
    {"{FFFFFFFF-0001-8000-0102-030405060708}",
     {0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x80, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}},
};

TEST(ClassIds, TextAndBytesAgree) {
  for (const ClassIdCase& c : kClassIds) {
    EXPECT_EQ(FormatClassId(c.bytes), c.text);
    const auto parsed = ParseClassId(c.text);
    ASSERT_TRUE(parsed) << c.text;
    EXPECT_EQ(*parsed, c.bytes) << c.text;
  }
}

TEST(ClassIds, ParseTakesAnyCaseAndNoBraces) {
  EXPECT_EQ(ParseClassId("8856f961-340a-11d0-a96b-00c04fd705a2"), kClassIds[0].bytes);
  EXPECT_EQ(ParseClassId("{8856f961-340A-11d0-A96B-00c04fd705a2}"), kClassIds[0].bytes);
}

TEST(ClassIds, ParseRefusesWhatIsNoClassId) {
  for (const char* text : {"", "{}", "8856F961340A11D0A96B00C04FD705A2", "{8856F961-340A-11D0-A96B-00C04FD705A}",
                           "{8856F961-340A-11D0-A96B-00C04FD705A2", "{8856F96G-340A-11D0-A96B-00C04FD705A2}",
                           "{8856F961-340A-11D0-A96B00-C04FD705A2}", "{8856F961-340A-11D0-A96B-00C04FD705A2}x"})
    EXPECT_FALSE(ParseClassId(text)) << text;
}

struct ControlCase {
  ClassId bytes;
  const char* name;
  const char* type;
  ControlShow show;
};

// The class ids as their stored bytes, written out by hand.
const ControlCase kControls[] = {
    {{0x61, 0xF9, 0x56, 0x88, 0x0A, 0x34, 0xD0, 0x11, 0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2},
     "web browser", "web browser", ControlShow::kWidget},
    {{0x12, 0xF3, 0xD6, 0x22, 0xF6, 0xB0, 0xD0, 0x11, 0x94, 0xAB, 0x00, 0x80, 0xC7, 0x4C, 0x7E, 0x95},
     "media player", "media player", ControlShow::kComposited},
};

TEST(ControlRegistry, ProvidesTheWebBrowserAndTheMediaPlayer) {
  for (const ControlCase& c : kControls) {
    const ControlClass* found = FindControlClass(c.bytes);
    ASSERT_NE(found, nullptr) << c.name;
    EXPECT_EQ(found->name, c.name);
    EXPECT_EQ(found->type, c.type);
    EXPECT_EQ(found->show, c.show) << c.name;
    EXPECT_EQ(found->classId, FormatClassId(c.bytes));
    // One byte off, at either end, is another class.
    for (size_t at : {size_t(0), size_t(15)}) {
      ClassId near = c.bytes;
      near[at] ^= 1;
      EXPECT_EQ(FindControlClass(near), nullptr) << c.name << " byte " << at;
    }
  }
  EXPECT_EQ(FindControlClass(ClassId{}), nullptr);
  EXPECT_TRUE(IsNullClassId(ClassId{}));
  EXPECT_FALSE(IsNullClassId(kControls[0].bytes));
}

// A data word read the other way round names no control.
TEST(ControlRegistry, DataWordsAreLittleEndian) {
  ClassId swapped = kControls[1].bytes;
  std::reverse(swapped.begin(), swapped.begin() + 4);
  EXPECT_EQ(FindControlClass(swapped), nullptr);
}

// A control that knows one member name.
class OneNameControl : public CompositedControl {
 public:
  std::optional<int32_t> MemberId(std::string_view name) const override {
    return name == "Volume" ? std::optional<int32_t>(19) : std::nullopt;
  }
  DispatchStatus Put(int32_t, const DispatchValue&) override { return DispatchStatus::kUnknownMember; }
  DispatchStatus Get(int32_t, DispatchValue&) override { return DispatchStatus::kUnknownMember; }
  DispatchStatus Call(int32_t, std::span<const DispatchValue>) override { return DispatchStatus::kUnknownMember; }
  std::string ErrorText() const override { return {}; }
};

// A property is named by the control's member name or by "#" and a decimal
// dispatch id; anything else names nothing.
TEST(ControlRegistry, PropertyNamesAndDispatchIds) {
  const struct {
    const char* property;
    std::optional<int32_t> id;
  } cases[] = {
      {"Volume", 19},     {"#1026", 1026}, {"#-500", -500}, {"#0", 0},        {"Brightness", std::nullopt},
      {"#", std::nullopt}, {"#12x", std::nullopt}, {"# 12", std::nullopt}, {"#99999999999", std::nullopt},
      {"1026", std::nullopt},
  };
  const OneNameControl control;
  for (const auto& c : cases) EXPECT_EQ(COleCtl::MemberIdOf(control, c.property), c.id) << c.property;
}

struct FileAddressCase {
  const char* path;
  const char* address;
};

// An escaped "?" or "#" belongs to the name; a plain one starts the query or
// fragment, which is no part of it. Cutting after decoding judged another
// path than the one a handler opens ("x%23/../../etc" is not "x").
TEST(FileAddresses, QueryAndFragmentAreCutBeforeDecoding) {
  const FileAddressCase cases[] = {
      {"/srv/x#/../../etc/passwd", "file:///srv/x%23/../../etc/passwd"},
      {"/srv/page.html", "file:///srv/page.html?x=1#top"},
      {"/srv/a?b", "file:///srv/a%3Fb#c"},
  };
  for (const FileAddressCase& c : cases)
    EXPECT_EQ(LocalPathOfFileAddress(c.address), std::optional<std::string>(c.path)) << c.address;
}

TEST(FileAddresses, EscapeWhatAnAddressCannotHoldAndReadBack) {
  const FileAddressCase cases[] = {
      {"/srv/p/page.html", "file:///srv/p/page.html"},
      {"/srv/my page#1.html", "file:///srv/my%20page%231.html"},
      {"/srv/caf\xC3\xA9/a?b.htm", "file:///srv/caf%C3%A9/a%3Fb.htm"},
      {"/a%b", "file:///a%25b"},
  };
  for (const FileAddressCase& c : cases) {
    EXPECT_EQ(FileAddressOfHostPath(c.path), c.address);
    EXPECT_EQ(LocalPathOfFileAddress(c.address), std::optional<std::string>(c.path)) << c.address;
  }
}

}  // namespace
}  // namespace kv
