#include "threed/metafile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/threed/metafile_writer.h"
#include "threed/errors.h"

namespace kv::threed {
namespace {

using test::Bytes;
using test::Container;
using test::Header;
using test::Join;
using test::Object;
using test::Vec;

Model Read(const std::vector<uint8_t>& b) { return ReadMetafile(b); }
Model ReadText(const std::string& s) { return ReadMetafile({reinterpret_cast<const uint8_t*>(s.data()), s.size()}); }

void ExpectVec(Vec3 got, Vec3 want) {
  EXPECT_NEAR(got.x, want.x, 1e-5f);
  EXPECT_NEAR(got.y, want.y, 1e-5f);
  EXPECT_NEAR(got.z, want.z, 1e-5f);
}

TEST(Metafile, HandDerivedBinaryTriangleWithColour) {
  const std::vector<uint8_t> file = {
      // Header: '3DMF', size 16, version 1.6, flags 0 (normal), no table of contents.
      0x33, 0x44, 0x4D, 0x46, 0, 0, 0, 16, 0, 1, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      // 'cntr' holding 80 bytes: the triangle (44) and its attribute set (36).
      0x63, 0x6E, 0x74, 0x72, 0, 0, 0, 80,
      // 'trig', 36 bytes: (0, 0, 0), (1, 0, 0), (0, 2, 0); 1.0f = 3F800000, 2.0f = 40000000.
      0x74, 0x72, 0x69, 0x67, 0, 0, 0, 36,
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0x3F, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0, 0,
      // 'cntr' of 28 bytes: 'attr' (empty) and 'kdif' (1, 0.5, 0); 0.5f = 3F000000.
      0x63, 0x6E, 0x74, 0x72, 0, 0, 0, 28,
      0x61, 0x74, 0x74, 0x72, 0, 0, 0, 0,
      0x6B, 0x64, 0x69, 0x66, 0, 0, 0, 12, 0x3F, 0x80, 0, 0, 0x3F, 0, 0, 0, 0, 0, 0, 0,
  };
  const Model m = Read(file);
  ASSERT_EQ(m.triangles.size(), 1u);
  const Triangle& t = m.triangles[0];
  ExpectVec(t.v[0].position, {0, 0, 0});
  ExpectVec(t.v[1].position, {1, 0, 0});
  ExpectVec(t.v[2].position, {0, 2, 0});
  for (const ModelVertex& v : t.v) EXPECT_EQ(v.color, (Rgb{1, 0.5f, 0}));
  EXPECT_EQ(t.outline, 7);
}

// The same models in both forms.
std::vector<uint8_t> BinaryCube() { return Join({Header(), Object("box ")}); }
const char* kTextCube = "3DMetafile ( 1 6 Normal )\nBox ( )\n";

std::vector<uint8_t> BinaryTriMesh() {
  Bytes mesh;
  mesh.U32(2).U32(0).U32(0).U32(0).U32(4).U32(1);
  for (uint8_t i : {0, 1, 2, 0, 2, 3}) mesh.U8(i);  // 4 points: one-byte indices
  mesh.Pad4();
  mesh.Floats({-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0});
  mesh.Floats({-1, -1, 0, 1, 1, 0}).U32(0);  // bounding box, not empty
  Bytes colours;
  colours.U32(5).U32(0).U32(2).U32(0).U32(0).Floats({1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 0});
  return Join({Header(), Container({Object("tmsh", mesh), Object("atar", colours)})});
}
const char* kTextTriMesh = R"(3DMetafile ( 1 6 Normal )
Container (
  TriMesh ( 2 0 0 0 4 1
    0 1 2  0 2 3
    -1 -1 0  1 -1 0  1 1 0  -1 1 0
    -1 -1 0  1 1 0  False )
  AttributeArray ( 5 0 2 0 0   1 0 0  0 1 0  0 0 1  1 1 0 )  # diffuse colour per vertex
)
)";

std::vector<uint8_t> BinaryGroups() {
  const auto tri = Object("trig", Bytes().Floats({0, 0, 0, 1, 0, 0, 0, 1, 0}));
  const auto begin = Object("bgng", Bytes().Raw(Object("dspg")));
  return Join({Header(), begin, Object("trns", Bytes().Floats({1, 0, 0})), begin,
               Object("scal", Bytes().Floats({2, 2, 2})), tri, Object("endg"), tri, Object("endg"), tri});
}
const char* kTextGroups = R"(3DMetafile ( 1 6 Normal )
BeginGroup ( DisplayGroup ( ) )
  Translate ( 1 0 0 )
  BeginGroup ( DisplayGroup ( ) )
    Scale ( 2 2 2 )
    Triangle ( 0 0 0  1 0 0  0 1 0 )
  EndGroup ( )
  Triangle ( 0 0 0  1 0 0  0 1 0 )
EndGroup ( )
Triangle ( 0 0 0  1 0 0  0 1 0 )
)";

void ExpectSameModel(const Model& a, const Model& b) {
  ASSERT_EQ(a.triangles.size(), b.triangles.size());
  for (size_t i = 0; i < a.triangles.size(); ++i)
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(a.triangles[i].v[k].position, b.triangles[i].v[k].position) << i;
      EXPECT_EQ(a.triangles[i].v[k].color, b.triangles[i].v[k].color) << i;
    }
}

TEST(Metafile, BothFormsReadAlike) {
  ExpectSameModel(Read(BinaryCube()), ReadText(kTextCube));
  ExpectSameModel(Read(BinaryTriMesh()), ReadText(kTextTriMesh));
  ExpectSameModel(Read(BinaryGroups()), ReadText(kTextGroups));
}

TEST(Metafile, UnitBoxHasTwelveTrianglesFacingOut) {
  const Model m = ReadText(kTextCube);
  ASSERT_EQ(m.triangles.size(), 12u);
  const Bounds b = m.ComputeBounds();
  ExpectVec(b.min, {0, 0, 0});
  ExpectVec(b.max, {1, 1, 1});
  for (const Triangle& t : m.triangles) {
    const Vec3 n = Cross(t.v[1].position - t.v[0].position, t.v[2].position - t.v[0].position);
    const Vec3 centre = (t.v[0].position + t.v[1].position + t.v[2].position) * (1.0f / 3);
    EXPECT_GT(Dot(n, centre - Vec3{0.5f, 0.5f, 0.5f}), 0) << "a face turned inwards";
  }
}

TEST(Metafile, TriMeshVertexColours) {
  const Model m = ReadText(kTextTriMesh);
  ASSERT_EQ(m.triangles.size(), 2u);
  EXPECT_EQ(m.triangles[0].v[0].color, (Rgb{1, 0, 0}));
  EXPECT_EQ(m.triangles[0].v[1].color, (Rgb{0, 1, 0}));
  EXPECT_EQ(m.triangles[1].v[2].color, (Rgb{1, 1, 0}));
}

TEST(Metafile, GroupTransformsApplyInsideTheirGroupOnly) {
  const Model m = ReadText(kTextGroups);
  ASSERT_EQ(m.triangles.size(), 3u);
  // Scale, then the outer group's translation.
  ExpectVec(m.triangles[0].v[0].position, {1, 0, 0});
  ExpectVec(m.triangles[0].v[1].position, {3, 0, 0});
  ExpectVec(m.triangles[0].v[2].position, {1, 2, 0});
  ExpectVec(m.triangles[1].v[1].position, {2, 0, 0});
  ExpectVec(m.triangles[2].v[1].position, {1, 0, 0});
}

struct TransformCase {
  const char* transform;
  Vec3 image;  // of the point (1, 0, 0)
};

class Transforms : public ::testing::TestWithParam<TransformCase> {};

TEST_P(Transforms, MoveAPoint) {
  const std::string text = std::string("3DMetafile ( 1 6 Normal )\n") + GetParam().transform +
                           "\nPoint ( 1 0 0 )\n";
  const Model m = ReadText(text);
  ASSERT_EQ(m.points.size(), 1u);
  ExpectVec(m.points[0].position, GetParam().image);
}

INSTANTIATE_TEST_SUITE_P(
    Metafile, Transforms,
    ::testing::Values(TransformCase{"Translate ( 1 2 3 )", {2, 2, 3}}, TransformCase{"Scale ( 3 1 1 )", {3, 0, 0}},
                      TransformCase{"Rotate ( Z 1.5707963 )", {0, 1, 0}},
                      TransformCase{"Rotate ( Y 1.5707963 )", {0, 0, -1}},
                      TransformCase{"RotateAboutPoint ( Z 3.1415927 2 0 0 )", {3, 0, 0}},
                      TransformCase{"RotateAboutAxis ( 0 0 0  0 0 1  1.5707963 )", {0, 1, 0}},
                      TransformCase{"Matrix ( 1 0 0 0  0 1 0 0  0 0 1 0  5 6 7 1 )", {6, 6, 7}},
                      TransformCase{"Quaternion ( 0.70710678 0 0 0.70710678 )", {0, 1, 0}}));

struct ShapeCase {
  const char* object;
  size_t triangles, lines, points;
  float area;  // total triangle area, 0: not checked
};

class Shapes : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(Shapes, Tessellate) {
  const Model m = ReadText(std::string("3DMetafile ( 1 6 Normal )\n") + GetParam().object);
  EXPECT_EQ(m.triangles.size(), GetParam().triangles);
  EXPECT_EQ(m.lines.size(), GetParam().lines);
  EXPECT_EQ(m.points.size(), GetParam().points);
  if (GetParam().area > 0) {
    float area = 0;
    for (const Triangle& t : m.triangles)
      area += Length(Cross(t.v[1].position - t.v[0].position, t.v[2].position - t.v[0].position)) / 2;
    EXPECT_NEAR(area, GetParam().area, 1e-4f);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Metafile, Shapes,
    ::testing::Values(
        ShapeCase{"Box ( 0 0 2  0 3 0  1 0 0  0 0 0 )", 12, 0, 0, 2 * (2 + 3 + 6)},
        ShapeCase{"Ellipsoid ( )", 576, 0, 0, 0}, ShapeCase{"Cylinder ( )", 576, 0, 0, 0},
        ShapeCase{"Cylinder ( 0 0 1  1 0 0  0 1 0  0 0 0  0 1 0 1  Top )", 576 + 48, 0, 0, 0},
        ShapeCase{"Cone ( )", 576, 0, 0, 0}, ShapeCase{"Disk ( )", 48, 0, 0, 0},
        ShapeCase{"Torus ( 0 0 1  1 0 0  0 1 0  0 0 0  0.25 )", 576, 0, 0, 0},
        // An L-shaped outline (concave): area 3.
        ShapeCase{"Polygon ( 6  0 0 0  2 0 0  2 1 0  1 1 0  1 2 0  0 2 0 )", 4, 0, 0, 3},
        // A 4 x 4 square with a 2 x 2 hole.
        ShapeCase{"GeneralPolygon ( 2  4  0 0 0  4 0 0  4 4 0  0 4 0  4  1 1 0  3 1 0  3 3 0  1 3 0 )", 8, 0, 0,
                  12},
        ShapeCase{"Mesh ( 6  0 0 0  1 0 0  2 0 0  0 1 0  1 1 0  2 1 0  2 0  4 0 1 4 3  4 1 2 5 4 )", 4, 0, 0, 2},
        ShapeCase{"Line ( 0 0 0  1 1 1 )", 0, 1, 0, 0}, ShapeCase{"PolyLine ( 4  0 0 0  1 0 0  1 1 0  0 1 0 )", 0, 3, 0, 0},
        ShapeCase{"Point ( 1 2 3 )", 0, 0, 1, 0}, ShapeCase{"Ellipse ( 1 0 0  0 1 0  0 0 0 )", 0, 32, 0, 0},
        ShapeCase{"ViewHints ( ) Container ( ViewHints ( ) ) Triangle ( 0 0 0 1 0 0 0 1 0 )", 1, 0, 0, 0.5f}));

TEST(Metafile, MeshHoleIsLeftOpen) {
  // A face with a contour: the hole's area is not covered.
  const Model m = ReadText(
      "3DMetafile ( 1 6 Normal )\n"
      "Mesh ( 8  0 0 0  4 0 0  4 4 0  0 4 0  1 1 0  1 3 0  3 3 0  3 1 0  1 1  4 0 1 2 3  -4 4 5 6 7 )");
  float area = 0;
  for (const Triangle& t : m.triangles)
    area += Length(Cross(t.v[1].position - t.v[0].position, t.v[2].position - t.v[0].position)) / 2;
  EXPECT_NEAR(area, 12, 1e-4f);
}

TEST(Metafile, ReferencesThroughTheTableOfContents) {
  const Model text = ReadText(R"(3DMetafile ( 1 6 Normal toc> )
shape: Container (
  Triangle ( 0 0 0  1 0 0  0 1 0 )
  Container ( AttributeSet ( ) DiffuseColor ( 0 1 0 ) )
)
Translate ( 0 0 5 )
Reference ( 1 )
toc: TableOfContents ( -1 2 0 0 12 1  1 shape> )
)");
  ASSERT_EQ(text.triangles.size(), 2u);
  ExpectVec(text.triangles[1].v[1].position, {1, 0, 5});
  EXPECT_EQ(text.triangles[1].v[0].color, (Rgb{0, 1, 0}));

  // Binary: the shape at offset 24, right after the header; the table after
  // the reference.
  const auto shape = Container({Object("trig", Bytes().Floats({0, 0, 0, 1, 0, 0, 0, 1, 0})),
                                Container({Object("attr"), Object("kdif", Bytes().Floats({0, 1, 0}))})});
  const auto middle = Join({Object("trns", Bytes().Floats({0, 0, 5})), Object("rfrn", Bytes().U32(1))});
  const uint64_t tocAt = 24 + shape.size() + middle.size();
  Bytes toc;
  toc.U64(0).U32(2).U32(0).U32(0).U32(12).U32(1).U32(1).U64(24);
  const Model binary = Read(Join({Header(tocAt), shape, middle, Object("toc ", toc)}));
  ExpectSameModel(binary, text);
}

std::vector<uint8_t> NestedContainers(int depth) {
  std::vector<uint8_t> inner = Object("cntr");
  for (int i = 1; i < depth; ++i) inner = Object("cntr", Bytes().Raw(inner));
  return Join({Header(), inner});
}

std::vector<uint8_t> Chars(const std::string& s) { return {s.begin(), s.end()}; }

struct BadCase {
  const char* name;
  std::vector<uint8_t> file;
  int code;
};

class BadFiles : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadFiles, FailWithTheirCode) {
  try {
    Read(GetParam().file);
    FAIL() << "read";
  } catch (const ModelError& e) {
    EXPECT_EQ(e.code(), GetParam().code) << e.what();
    EXPECT_STRNE(e.what(), "");
  }
}

std::vector<BadCase> BadCases() {
  const auto tri = Object("trig", test::Bytes().Floats({0, 0, 0, 1, 0, 0, 0, 1, 0}));
  auto truncated = Join({Header(), tri});
  truncated.resize(truncated.size() - 4);
  test::Bytes huge;
  huge.U32(10'000'000).Floats({0, 0, 0, 1, 0, 0, 0, 1, 0});
  test::Bytes hugeMesh;
  hugeMesh.U32(1).U32(0).U32(0).U32(0).U32(10'000'000).U32(0).U32(0).U32(1).U32(2);
  test::Bytes badEntry;
  badEntry.U64(0).U32(2).U32(0).U32(0).U32(12).U32(1).U32(1).U64(99999);
  std::string deepGroups = "3DMetafile ( 1 6 Normal )\n";
  for (int i = 0; i < 100'000; ++i) deepGroups += "BeginGroup ( DisplayGroup ( ) )\n";
  std::string deepText = "3DMetafile ( 1 6 Normal )\n";
  for (int i = 0; i < 100'000; ++i) deepText += "Container ( ";
  return {
      {"Empty", {}, err::kUnknownFileType},
      {"NotAMetafile", Chars("GIF89a"), err::kUnknownFileType},
      {"Truncated", truncated, err::kReadFailed},
      {"TenMillionVertices", Join({Header(), Object("plyg", huge)}), err::kReadFailed},
      {"TenMillionTriMeshPoints", Join({Header(), Object("tmsh", hugeMesh)}), err::kReadFailed},
      {"TocOutsideTheFile", Join({Header(100000), tri}), err::kReadFailed},
      {"TocEntryOutsideTheFile", Join({Header(), Object("toc ", badEntry)}), err::kReadFailed},
      {"NestedContainers", NestedContainers(100'000), err::kReadFailed},
      {"NestedTextContainers", Chars(deepText), err::kReadFailed},
      {"NestedGroups", Chars(deepGroups), err::kReadFailed},
      {"CyclicReference",
       Chars("3DMetafile ( 1 6 Normal )\na: BeginGroup ( DisplayGroup ( ) )\nReference ( 1 )\nEndGroup ( )\n"
             "TableOfContents ( -1 2 0 0 12 1  1 a> )\n"),
       err::kReadFailed},
      {"UnknownReference", Chars("3DMetafile ( 1 6 Normal )\nReference ( 7 )\n"), err::kReadFailed},
      {"UnknownLabel", Chars("3DMetafile ( 1 6 Normal x> )\n"), err::kReadFailed},
      {"IndexOutOfRange", Chars("3DMetafile ( 1 6 Normal )\nMesh ( 3  0 0 0 1 0 0 0 1 0  1 0  3 0 1 5 )"),
       err::kReadFailed},
      {"NotFinite", Chars("3DMetafile ( 1 6 Normal )\nPoint ( 1 nan 0 )"), err::kReadFailed},
      {"NurbPatch", Join({Header(), Object("nrbp", test::Bytes().U32(4).U32(4))}), err::kUnknownFileType},
  };
}

INSTANTIATE_TEST_SUITE_P(Metafile, BadFiles, ::testing::ValuesIn(BadCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Metafile, TriangleLimitIsOutOfMemory) {
  ReadLimits limits;
  limits.maxTriangles = 100;
  try {
    ReadMetafile(BinaryCube(), limits);  // 12: within
    const std::string text = "3DMetafile ( 1 6 Normal )\nEllipsoid ( )\n";
    ReadMetafile({reinterpret_cast<const uint8_t*>(text.data()), text.size()}, limits);
    FAIL() << "read";
  } catch (const ModelError& e) {
    EXPECT_EQ(e.code(), err::kOutOfMemory);
  }
}

TEST(Metafile, MissingFileIsNotFound) {
  try {
    ReadMetafileFile("/nonexistent/model.3dmf");
    FAIL() << "read";
  } catch (const ModelError& e) {
    EXPECT_EQ(e.code(), err::kFileNotFound);
  }
}

struct TableCase {
  int code;
  uint32_t message;
};

TEST(ModelErrors, MessageTable) {
  const TableCase table[] = {
      {0, 0},         {-28483, 51452}, {-28482, 51452}, {-28474, 6053},  {-28471, 6053}, {-28464, 6053},
      {-28455, 6053}, {-28450, 6053},  {-28469, 51457}, {-28447, 51457}, {-28443, 51457}, {-28441, 51457},
      {-28433, 51457}, {-28458, 8015}, {-28456, 8015},  {-28449, 8015},  {-28448, 8015},  {-28440, 8015},
      {-28434, 8015}, {-28432, 8015},  {-28421, 8015},  {-28442, 51458}, {-28420, 8024},  {-28395, 8023},
      {-28500, 7000}, {-28470, 7000},  {-28463, 7000},  {-28484, 7000},  {-28419, 7000},  {-1, 7000},
      {1, 7000},
  };
  for (const TableCase& c : table) EXPECT_EQ(MessageIdForError(c.code), c.message) << c.code;
}

}  // namespace
}  // namespace kv::threed
