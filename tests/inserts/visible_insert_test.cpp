// The visible-insert part of the stored form and the motion-path block,
// against bytes derived by hand from the field order.
#include "inserts/visible_insert.h"

#include <gtest/gtest.h>

#include "inserts/register.h"
#include "inserts/stage_host.h"
#include "tests/engine/test_bytes.h"

namespace kv {
namespace {

using test::Bytes;
using test::Cat;
using test::NewClassTag;

using test::U16;
using test::U32;

class VisibleRecord : public ::testing::Test {
 protected:
  void SetUp() override { RegisterVisualClasses(); }
};

// Node j of the test path: stepDelay 10 + j, minStep 1, layer 5, straight
// segment (kind 2) spanning 1, event 9004, centre (100 + 10j, 50), size 40 x 20,
// source 0, 0, 40, 20.
Bytes Node(uint8_t j) {
  return Cat({U32(10u + j), U32(1), {0x05, 0x02}, U16(1), U32(9004), U16(static_cast<uint16_t>(100 + 10 * j)),
              U16(50), U16(40), U16(20), U16(0), U16(0), U16(40), U16(20)});
}

// A type-4 path of three points: 12-byte header, 12 reserved bytes, four nodes;
// 32 x 3 + 56 = 152 bytes.
Bytes NodePath() {
  return Cat({U32(4), U32(7), U32(3), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, Node(0), Node(1), Node(2), Node(3)});
}

// Steps 2 to 4 of the visible part (versions 4, 3 and 2), with test values.
const Bytes kStep2 = Cat({{0x02}, U16(0x0102), U16(3), U16(4)});  // auxOption3, auxWord2, auxWord3, auxWord4
const Bytes kStep3 = {0x00, 0x00};                                 // attachedSound: the null object
const Bytes kStep4 = Cat({U32(1), U32(1417), U32(50), U32(150), U32(60), U32(140), U32(70), U32(130), {0x00}});
// The same steps at their reset defaults.
const Bytes kStep2Default = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
const Bytes kStep4Default =
    Cat({U32(0), U32(1283), U32(100), U32(100), U32(100), U32(100), U32(100), U32(100), {0x01}});

// Steps 5 to 7, which every version has; `path` follows hasPath 1.
Bytes Steps5To7(const Bytes& path) {
  return Cat({U16(5), U16(6), U16(3),               // showEffect 5, hideEffect 6, drawMode 3
              U32(12), U32(13),                     // showSpeed 12, hideSpeed 13
              U16(2), U16(3), U16(4), U16(5),       // showParam1, showParam2, hideParam1, hideParam2
              {0x00, 0x00, 0x01},                   // stretchPicture 0, auxOption1 0, hasPath 1
              path,                                 //
              {0x02}, U32(1500), {0x02, 0x01},      // whenDone 2, displayTime 1500, paletteMode 2, transparent 1
              U32(0x00FF00FF), {0x09},              // transparentColor, colorTolerance 9
              {0x05, 'a', '.', 'c', 'u', 'r'},      // cursorFile "a.cur"
              U16(0xFFFE), U16(1)});                // cursorId hidden, auxWord1 1
}

Bytes VisibleObject(uint16_t version, const Bytes& steps2To4, const Bytes& path = NodePath()) {
  return Cat({NewClassTag("CVisibleInsert"), test::ResetRecordV5(), U16(version), steps2To4, Steps5To7(path)});
}

TEST_F(VisibleRecord, NewestVersionWithANodePathRoundTrips) {
  const Bytes file = VisibleObject(4, Cat({kStep2, kStep3, kStep4}));
  size_t consumed = 0;
  auto v = test::LoadOne<CVisibleInsert>(file, &consumed);
  EXPECT_EQ(consumed, file.size());
  EXPECT_EQ(v->visibleVersion, 4);
  EXPECT_EQ(v->auxWord2, 0x0102);
  EXPECT_EQ(v->scaleMode, 1417);
  EXPECT_EQ(v->scaleAtBack, 130);
  EXPECT_EQ(v->auxOption4, 0);
  EXPECT_EQ(v->drawMode, 3);
  EXPECT_EQ(v->cursorFile, "a.cur");
  EXPECT_EQ(v->cursorId, kCursorHidden);
  ASSERT_TRUE(v->path);
  EXPECT_EQ(v->path->bytes.size(), 152u);
  EXPECT_EQ(v->path->PathType(), 4);
  EXPECT_EQ(v->path->PointCount(), 3);
  ASSERT_EQ(v->path->NodeCount(), 4u);
  const PathNode last = v->path->GetNode(3);
  EXPECT_EQ(last.stepDelay, 13);
  EXPECT_EQ(last.segmentKind, 2);
  EXPECT_EQ(last.nodeEvent, 9004u);
  EXPECT_EQ(last.centerX, 130);
  EXPECT_EQ(last.sourceRight, 40);
  // Node 0 centred at (100, 50), 40 x 20.
  EXPECT_EQ(v->path->StartRect(), (Rect{80, 40, 120, 60}));
  EXPECT_EQ(test::StoreOne(*v), file);
}

TEST_F(VisibleRecord, OldestVersionEntersAtTheEffectsAndWritesTheNewest) {
  const Bytes file = VisibleObject(1, {});
  auto v = test::LoadOne<CVisibleInsert>(file);
  EXPECT_EQ(v->visibleVersion, 1);
  EXPECT_EQ(v->scaleMode, 1283);
  EXPECT_EQ(v->scaleAtLeft, 100);
  EXPECT_EQ(v->auxOption4, 1);
  EXPECT_EQ(v->auxOption3, 0);
  EXPECT_FALSE(v->attachedSound);
  EXPECT_EQ(v->showEffect, 5);
  ASSERT_TRUE(v->path);
  EXPECT_EQ(test::StoreOne(*v), VisibleObject(4, Cat({kStep2Default, kStep3, kStep4Default})));
}

TEST_F(VisibleRecord, VersionsTwoAndThreeEnterAtTheirSteps) {
  auto v2 = test::LoadOne<CVisibleInsert>(VisibleObject(2, kStep4));
  EXPECT_EQ(v2->scaleMode, 1417);
  EXPECT_EQ(v2->auxWord3, 0);
  auto v3 = test::LoadOne<CVisibleInsert>(VisibleObject(3, Cat({kStep3, kStep4})));
  EXPECT_EQ(v3->scaleAtTop, 60);
  EXPECT_EQ(test::StoreOne(*v3), VisibleObject(4, Cat({kStep2Default, kStep3, kStep4})));
  for (uint16_t bad : {0, 5}) {
    try {
      test::LoadOne<CVisibleInsert>(VisibleObject(bad, {}));
      ADD_FAILURE() << "version " << bad << " loaded";
    } catch (const CArchiveException& e) {
      EXPECT_EQ(e.m_cause, CArchiveException::badSchema);
    }
  }
}

TEST_F(VisibleRecord, OlderPathTypesAreCarriedUnchanged) {
  // Sizes by type for three points: 6n + 16, 10n + 20, 18n + 28, 72, 32n + 56.
  const struct {
    int32_t type;
    size_t size;
  } cases[] = {{0, 34}, {1, 50}, {2, 82}, {3, 72}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    Bytes path = Cat({U32(static_cast<uint32_t>(c.type)), U32(9), U32(3)});
    for (size_t i = path.size(); i < c.size; ++i) path.push_back(static_cast<uint8_t>(i * 7));
    const Bytes file = VisibleObject(4, Cat({kStep2, kStep3, kStep4}), path);
    size_t consumed = 0;
    auto v = test::LoadOne<CVisibleInsert>(file, &consumed);
    EXPECT_EQ(consumed, file.size());
    ASSERT_TRUE(v->path);
    EXPECT_EQ(v->path->bytes, path);
    // Only the node layout has a start rectangle (bytes 40 to 47 are no node here).
    EXPECT_FALSE(v->path->StartRect());
    EXPECT_EQ(v->path->NodeCount(), 0u);
    EXPECT_EQ(test::StoreOne(*v), file);
  }
}

TEST_F(VisibleRecord, PathHeadersThatNoBlockCanHaveFail) {
  const struct {
    Bytes header;
    int cause;
  } cases[] = {
      {Cat({U32(5), U32(0), U32(1)}), CArchiveException::badIndex},           // unknown type
      {Cat({U32(4), U32(0), U32(0xFFFFFFFF)}), CArchiveException::badIndex},  // negative count
      {Cat({U32(4), U32(0), U32(0x7FFFFFFF)}), CArchiveException::endOfFile}, // 64 GiB announced
      {Cat({U32(1), U32(0), U32(100)}), CArchiveException::endOfFile},        // 1020 bytes announced
  };
  for (const auto& c : cases) {
    const Bytes file = VisibleObject(4, Cat({kStep2, kStep3, kStep4}), c.header);
    try {
      test::LoadOne<CVisibleInsert>(file);
      ADD_FAILURE() << "loaded";
    } catch (const CArchiveException& e) {
      EXPECT_EQ(e.m_cause, c.cause);
    }
  }
}

TEST_F(VisibleRecord, HasPathOtherThanOneReadsNoBlock) {
  Bytes file = VisibleObject(4, Cat({kStep2, kStep3, kStep4}), {});
  // hasPath is the last byte of step 5, 24 bytes into it.
  const size_t hasPathAt = NewClassTag("CVisibleInsert").size() + test::ResetRecordV5().size() + 2 + kStep2.size() +
                           kStep3.size() + kStep4.size() + 24;
  ASSERT_EQ(file[hasPathAt], 1);
  file[hasPathAt] = 2;
  auto v = test::LoadOne<CVisibleInsert>(file);
  EXPECT_EQ(v->hasPath, 2);
  EXPECT_FALSE(v->path);
  EXPECT_EQ(v->cursorFile, "a.cur");
}

TEST_F(VisibleRecord, CopyTakesItsOwnPathBlock) {
  auto v = test::LoadOne<CVisibleInsert>(VisibleObject(4, Cat({kStep2, kStep3, kStep4})));
  v->holdPending = 1;
  auto copy = std::static_pointer_cast<CVisibleInsert>(v->Clone(false));
  ASSERT_TRUE(copy->path);
  EXPECT_NE(copy->path.get(), v->path.get());
  EXPECT_EQ(copy->path->bytes, v->path->bytes);
  EXPECT_EQ(copy->holdPending, 1);
  EXPECT_EQ(copy->transparentColor, 0x00FF00FFu);
  EXPECT_EQ(copy->GetCategory(), 1);
  EXPECT_EQ(test::StoreOne(*copy), test::StoreOne(*v));
}

TEST_F(VisibleRecord, StoringWithoutTheAnnouncedPathFails) {
  CVisibleInsert v;
  v.Reset();
  v.hasPath = 1;
  EXPECT_THROW(test::StoreOne(v), CArchiveException);
}

// Where the stage frame goes on an 800 x 600 screen.
TEST(StagePosition, PlacementsAndTheMultipleOfEight) {
  struct Case {
    int32_t placement;
    Point stored;
    int w, h;
    Point want;
  };
  const Case cases[] = {
      {1266, {0, 0}, 640, 480, {80, 60}},         // centred
      {1266, {0, 0}, 1000, 700, {0, 0}},          // larger than the screen: its corner
      {1265, {0, 0}, 640, 480, {0, 0}},           // 0 stays 0
      {1265, {13, 30}, 640, 480, {8, 24}},        // down to a multiple of 8
      {1265, {16, 7}, 640, 480, {16, 0}},
      {1265, {800, 10}, 640, 480, {0, 0}},        // starts past the right edge
      {1265, {10, 650}, 640, 480, {0, 0}},        // past the bottom edge
  };
  for (const Case& c : cases) {
    const Point at = StagePosition(c.placement, c.stored, c.w, c.h, 800, 600);
    EXPECT_EQ(at.x, c.want.x) << c.placement << " " << c.stored.x << "," << c.stored.y;
    EXPECT_EQ(at.y, c.want.y) << c.placement << " " << c.stored.x << "," << c.stored.y;
  }
}

}  // namespace
}  // namespace kv
