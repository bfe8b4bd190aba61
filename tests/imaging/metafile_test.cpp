// The metafile players: hand-written metafiles drawn at exact pixels derived
// from the records, WMF compared with libwmf's renderer (wmf2gd) within a
// pixel at edges, hostile files refused with the library's errors, and the
// picture file loader.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "imaging/metafile.h"
#include "imaging/picture_file_loader.h"
#include "stage/compositor.h"
#include "stage/locks.h"
#include "stage/sprite.h"
#include "tests/imaging/metafile_bytes.h"
#include "tests/imaging/pixels.h"

namespace kv::imaging {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::EmfRecord;
using test::Rgb;
using test::WmfRecord;

// Fonts need the application object; one for the whole test program.
void EnsureApplication() {
  static int argc = 1;
  static char name[] = "metafile_test";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = QGuiApplication::instance() ? nullptr : new QGuiApplication(argc, argv);
  (void)app;
}

// A test name from a case's `name`: letters and digits, the rest '_'.
struct CaseName {
  template <typename Info>
  std::string operator()(const Info& info) const {
    std::string name = info.param.name;
    for (char& c : name)
      if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
  }
};

constexpr uint32_t kRed = Rgb(255, 0, 0), kBlue = Rgb(0, 0, 255), kGreen = Rgb(0, 128, 0);

// The picture as rows of letters: '.' the backdrop, R red, B blue, G green,
// '#' black, W white, '?' anything else.
std::vector<std::string> Art(const Picture& pic) {
  static const std::map<uint32_t, char> kLetters = {{0xF8F8F0, '.'}, {0xFF0000, 'R'}, {0x0000FF, 'B'},
                                                    {0x008000, 'G'}, {0x000000, '#'}, {0xFFFFFF, 'W'}};
  const std::vector<uint32_t> rgb = test::Rgb(pic);
  std::vector<std::string> rows;
  for (int y = 0; y < pic.pixels.height; ++y) {
    std::string row;
    for (int x = 0; x < pic.pixels.width; ++x) {
      const auto it = kLetters.find(rgb[size_t(y) * pic.pixels.width + x]);
      row += it == kLetters.end() ? '?' : it->second;
    }
    rows.push_back(row);
  }
  return rows;
}

Picture Render(const Bytes& bytes, MetafileType type, int width = 0, int height = 0) {
  EnsureApplication();
  MetafileOptions options;
  options.width = width;
  options.height = height;
  Picture pic;
  const Outcome outcome = RenderMetafile(bytes, type, pic, options);
  EXPECT_TRUE(outcome) << outcome.detail;
  return pic;
}

// ------------------------------------------------------------------ WMF bytes

TEST(Wmf, SpelledOutFileDrawsItsRectangle) {
  const Bytes file = {
      // Placeable header: key 0x9AC6CDD7, handle 0, box (0, 0)-(24, 12), 96 units an inch,
      // reserved 0, checksum 0xCDD7 ^ 0x9AC6 ^ 24 ^ 12 ^ 96 = 0x5779.
      0xD7, 0xCD, 0xC6, 0x9A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x18, 0x00, 0x0C, 0x00, 0x60, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x79, 0x57,
      // Header: disk metafile (2), 9 words, version 0x0300, 38 words in all (9 + 7 + 8 + 4 + 7 + 3),
      // 2 objects, longest record 8 words, no parameters.
      0x02, 0x00, 0x09, 0x00, 0x00, 0x03, 0x26, 0x00, 0x00, 0x00, 0x02, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00,
      // META_CREATEBRUSHINDIRECT (0x02FC), 7 words: solid (0), red 0x000000FF, hatch 0 -> slot 0.
      0x07, 0x00, 0x00, 0x00, 0xFC, 0x02, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00,
      // META_CREATEPENINDIRECT (0x02FA), 8 words: PS_NULL (5), width (0, 0), black; slot 0 is taken -> slot 1.
      0x08, 0x00, 0x00, 0x00, 0xFA, 0x02, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      // META_SELECTOBJECT (0x012D) slot 0: 4 words.
      0x04, 0x00, 0x00, 0x00, 0x2D, 0x01, 0x00, 0x00,
      // META_RECTANGLE (0x041B), 7 words: bottom 6, right 10, top 1, left 2.
      0x07, 0x00, 0x00, 0x00, 0x1B, 0x04, 0x06, 0x00, 0x0A, 0x00, 0x01, 0x00, 0x02, 0x00,
      // META_EOF, 3 words.
      0x03, 0x00, 0x00, 0x00, 0x00, 0x00,
  };
  // Only slot 0 was selected (the second select is missing on purpose: the
  // default black pen outlines the rectangle on its last pixels inside).
  ASSERT_EQ(DetectMetafile(file), MetafileType::kWmf);
  int w = 0, h = 0;
  ASSERT_TRUE(MetafileSize(file, MetafileType::kWmf, w, h));
  EXPECT_EQ(w, 24);
  EXPECT_EQ(h, 12);
  const std::vector<std::string> expected = {
      "........................",
      "..########..............",
      "..#RRRRRR#..............",
      "..#RRRRRR#..............",
      "..#RRRRRR#..............",
      "..########..............",
      "........................",
      "........................",
      "........................",
      "........................",
      "........................",
      "........................",
  };
  EXPECT_EQ(Art(Render(file, MetafileType::kWmf)), expected);
}

// Records shared by the WMF cases: a red brush in slot 0, a null pen in slot 1, both selected.
Bytes RedNoPen() {
  // CREATEBRUSHINDIRECT: style solid, the colour as two words (low, high), hatch 0.
  Bytes b = WmfRecord(0x02FC, {0, int(kRed & 0xFFFF), int(kRed >> 16), 0});
  test::Append(b, WmfRecord(0x02FA, {5, 0, 0, 0, 0}));                 // CREATEPENINDIRECT PS_NULL
  test::Append(b, WmfRecord(0x012D, {0}));
  test::Append(b, WmfRecord(0x012D, {1}));
  return b;
}

struct WmfCase {
  const char* name;
  Bytes file;
  int width, height;  // 0: own size
  std::vector<std::string> expected;
};

class WmfPixels : public ::testing::TestWithParam<WmfCase> {};

TEST_P(WmfPixels, MatchTheRecords) {
  const WmfCase& c = GetParam();
  EXPECT_EQ(Art(Render(c.file, MetafileType::kWmf, c.width, c.height)), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WmfPixels,
    ::testing::Values(
        // The box (0,0)-(12,6) drawn at twice its size: the rectangle (2,1)-(5,3) covers (4,2)-(10,6).
        WmfCase{"requested size",
                test::Wmf({RedNoPen(), WmfRecord(0x041B, {3, 5, 1, 2})}, 0, 0, 12, 6),
                24, 12,
                {"........................", "........................", "....RRRRRR..............",
                 "....RRRRRR..............", "....RRRRRR..............", "....RRRRRR..............",
                 "........................", "........................", "........................",
                 "........................", "........................", "........................"}},
        // SETWINDOWORG (y 10, x 20) and SETWINDOWEXT (y 24, x 48) replace the box: logical (24,12)-(40,22)
        // lands at ((24-20)/2, (12-10)/2)-((40-20)/2, (22-10)/2) = (2,1)-(10,6).
        WmfCase{"window origin and extent",
                test::Wmf({RedNoPen(), WmfRecord(0x020B, {10, 20}), WmfRecord(0x020C, {24, 48}),
                           WmfRecord(0x041B, {22, 40, 12, 24})},
                          0, 0, 24, 12),
                0, 0,
                {"........................", "..RRRRRRRR..............", "..RRRRRRRR..............",
                 "..RRRRRRRR..............", "..RRRRRRRR..............", "..RRRRRRRR..............",
                 "........................", "........................", "........................",
                 "........................", "........................", "........................"}},
        // POLYGON of an L: (2,1) (10,1) (10,3) (6,3) (6,6) (2,6), filled on pixel centres inside.
        WmfCase{"polygon",
                test::Wmf({RedNoPen(), WmfRecord(0x0324, {6, 2, 1, 10, 1, 10, 3, 6, 3, 6, 6, 2, 6})}, 0, 0, 24, 12),
                0, 0,
                {"........................", "..RRRRRRRR..............", "..RRRRRRRR..............",
                 "..RRRR..................", "..RRRR..................", "..RRRR..................",
                 "........................", "........................", "........................",
                 "........................", "........................", "........................"}},
        // POLYPOLYGON of two squares, alternate filling: the inner one is a hole.
        WmfCase{"poly-polygon with a hole",
                test::Wmf({RedNoPen(), WmfRecord(0x0538, {2, 4, 4, 1, 1, 9, 1, 9, 9, 1, 9, 3, 3, 7, 3, 7, 7, 3, 7})},
                          0, 0, 12, 10),
                0, 0,
                {"............", ".RRRRRRRR...", ".RRRRRRRR...", ".RR....RR...", ".RR....RR...", ".RR....RR...",
                 ".RR....RR...", ".RRRRRRRR...", ".RRRRRRRR...", "............"}},
        // INTERSECTCLIPRECT (bottom 5, right 8, top 2, left 4) inside SAVEDC, a full rectangle, RESTOREDC -1
        // and a second rectangle (9,8)-(11,10) that the restored state no longer clips.
        WmfCase{"clip, saved and restored",
                test::Wmf({RedNoPen(), WmfRecord(0x001E, {}), WmfRecord(0x0416, {5, 8, 2, 4}),
                           WmfRecord(0x041B, {10, 12, 0, 0}), WmfRecord(0x0127, {-1}),
                           WmfRecord(0x041B, {10, 11, 8, 9})},
                          0, 0, 12, 10),
                0, 0,
                {"............", "............", "....RRRR....", "....RRRR....", "....RRRR....", "............",
                 "............", "............", ".........RR.", ".........RR."}},
        // EXCLUDECLIPRECT (bottom 4, right 6, top 1, left 1) then a rectangle over (0,0)-(8,5).
        WmfCase{"excluded clip",
                test::Wmf({RedNoPen(), WmfRecord(0x0415, {4, 6, 1, 1}), WmfRecord(0x041B, {5, 8, 0, 0})}, 0, 0, 8, 5),
                0, 0, {"RRRRRRRR", "R.....RR", "R.....RR", "R.....RR", "RRRRRRRR"}},
        // SETBKCOLOR red, then EXTTEXTOUT of no characters at (0,0) with ETO_OPAQUE (2) and the
        // rectangle (2,1)-(10,6): the writers' way of filling a box with the background colour.
        WmfCase{"opaque text box",
                test::Wmf({WmfRecord(0x0201, {int(kRed & 0xFFFF), int(kRed >> 16)}),
                           WmfRecord(0x0A32, {0, 0, 0, 2, 2, 1, 10, 6})},
                          0, 0, 12, 7),
                0, 0,
                {"............", "..RRRRRRRR..", "..RRRRRRRR..", "..RRRRRRRR..", "..RRRRRRRR..", "..RRRRRRRR..",
                 "............"}},
        // STRETCHDIB (0x0F43): SRCCOPY, DIB colours, source 2x1 at (0,0), destination 4x2 at (1,1); the
        // DIB: 40-byte header (width 2, height 1, 1 plane, 24 bits, no compression), one row blue, red
        // (B,G,R order) padded to 8 bytes.
        WmfCase{"stretched bitmap",
                test::Wmf({WmfRecord(0x0F43, {0x0020, 0x00CC, 0, 1, 2, 0, 0, 2, 4, 1, 1},
                                     Bytes{40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 8, 0, 0, 0,
                                           0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                           255, 0, 0, 0, 0, 255, 0, 0})},
                          0, 0, 6, 4),
                0, 0, {"......", ".BBRR.", ".BBRR.", "......"}}),
    CaseName());

// ------------------------------------------------------------------ EMF pixels

// EMR_CREATEBRUSHINDIRECT (39) slot 1 solid red, selected; the stock null pen (0x80000008) selected.
Bytes EmfRedNoPen() {
  Bytes b = EmfRecord(39, {1, 0, kRed, 0});
  test::Append(b, EmfRecord(37, {1}));
  test::Append(b, EmfRecord(37, {0x80000008}));
  return b;
}

// A 24 x 12 reference-pixel frame (240 x 120 hundredths of a millimetre at
// 10 pixels a millimetre), drawn at 24 x 12 so one logical unit is one pixel.
Bytes Emf24(std::initializer_list<Bytes> records) { return test::Emf(records, 240, 120); }

struct EmfCase {
  const char* name;
  Bytes file;
  std::vector<std::string> expected;
};

class EmfPixels : public ::testing::TestWithParam<EmfCase> {};

TEST_P(EmfPixels, MatchTheRecords) {
  const EmfCase& c = GetParam();
  EXPECT_EQ(Art(Render(c.file, MetafileType::kEmf, 24, 12)), c.expected) << c.name;
}

const std::vector<std::string> kRect2x1To10x6 = {
    "........................", "..RRRRRRRR..............", "..RRRRRRRR..............", "..RRRRRRRR..............",
    "..RRRRRRRR..............", "..RRRRRRRR..............", "........................", "........................",
    "........................", "........................", "........................", "........................"};

INSTANTIATE_TEST_SUITE_P(
    Cases, EmfPixels,
    ::testing::Values(
        // EMR_RECTANGLE (43) (2,1)-(10,6) without a pen: columns 2..9, rows 1..5.
        EmfCase{"rectangle", Emf24({EmfRedNoPen(), EmfRecord(43, {2, 1, 10, 6})}), kRect2x1To10x6},
        // The default black pen outlines the same rectangle on its last pixels inside.
        EmfCase{"outlined rectangle", Emf24({EmfRecord(39, {1, 0, kRed, 0}), EmfRecord(37, {1}),
                                             EmfRecord(43, {2, 1, 10, 6})}),
                {"........................", "..########..............", "..#RRRRRR#..............",
                 "..#RRRRRR#..............", "..#RRRRRR#..............", "..########..............",
                 "........................", "........................", "........................",
                 "........................", "........................", "........................"}},
        // EMR_SETMAPMODE (17) anisotropic, EMR_SETWINDOWEXTEX (9) 48 x 24, EMR_SETVIEWPORTEXTEX (11) 24 x 12:
        // logical (4,2)-(20,12) halves to (2,1)-(10,6).
        EmfCase{"anisotropic mapping", Emf24({EmfRedNoPen(), EmfRecord(17, {8}), EmfRecord(9, {48, 24}),
                                              EmfRecord(11, {24, 12}), EmfRecord(43, {4, 2, 20, 12})}),
                kRect2x1To10x6},
        // EMR_SETWORLDTRANSFORM (35) identity scale moved by (2, 1): (0,0)-(8,5) lands at (2,1)-(10,6).
        EmfCase{"world transform",
                Emf24({EmfRedNoPen(), [] {
                         Bytes x;
                         for (float f : {1.0f, 0.0f, 0.0f, 1.0f, 2.0f, 1.0f}) test::PutF32(x, f);
                         return EmfRecord(35, {}, x);
                       }(),
                       EmfRecord(43, {0, 0, 8, 5})}),
                kRect2x1To10x6},
        // EMR_POLYGON16 (86): bounds, 4 points (2,1) (10,1) (10,6) (2,6) as 16-bit pairs.
        EmfCase{"16-bit polygon",
                Emf24({EmfRedNoPen(), EmfRecord(86, {2, 1, 10, 6, 4},
                                                Bytes{2, 0, 1, 0, 10, 0, 1, 0, 10, 0, 6, 0, 2, 0, 6, 0})}),
                kRect2x1To10x6},
        // A path: BEGINPATH (59), MOVETOEX (27), LINETO (54) x3, CLOSEFIGURE (61), ENDPATH (60), FILLPATH (62).
        EmfCase{"filled path", Emf24({EmfRedNoPen(), EmfRecord(59, {}), EmfRecord(27, {2, 1}), EmfRecord(54, {10, 1}),
                                      EmfRecord(54, {10, 6}), EmfRecord(54, {2, 6}), EmfRecord(61, {}),
                                      EmfRecord(60, {}), EmfRecord(62, {0, 0, 0, 0})}),
                kRect2x1To10x6},
        // EMR_INTERSECTCLIPRECT (30) (2,1)-(10,6), then a rectangle over everything.
        EmfCase{"clip rectangle", Emf24({EmfRedNoPen(), EmfRecord(30, {2, 1, 10, 6}), EmfRecord(43, {0, 0, 24, 12})}),
                kRect2x1To10x6},
        // EMR_EXTSELECTCLIPRGN (75): 48 bytes of region data, RGN_COPY (5); the data: header of 32 bytes
        // (size 32, type 1, 1 rectangle, 16 bytes of rectangles, bounds) and the rectangle (2,1)-(10,6).
        EmfCase{"clip region", Emf24({EmfRedNoPen(), EmfRecord(75, {48, 5, 32, 1, 1, 16, 2, 1, 10, 6, 2, 1, 10, 6}),
                                      EmfRecord(43, {0, 0, 24, 12})}),
                kRect2x1To10x6},
        // A clip path (SELECTCLIPPATH (67), RGN_COPY): the triangle (-4000000,-4000000) (4000000,-4000000)
        // (12,4000000) covers the whole picture, so the rectangle over everything comes through whole.
        EmfCase{"clip path reaching far off the picture",
                Emf24({EmfRedNoPen(), EmfRecord(59, {}), EmfRecord(27, {-4000000, -4000000}),
                       EmfRecord(54, {4000000, -4000000}), EmfRecord(54, {12, 4000000}), EmfRecord(61, {}),
                       EmfRecord(60, {}), EmfRecord(67, {5}), EmfRecord(43, {0, 0, 24, 12})}),
                std::vector<std::string>(12, std::string(24, 'R'))},
        // EMR_SAVEDC (33), a clip, EMR_RESTOREDC (34) -1: the clip is gone again.
        EmfCase{"restored state", Emf24({EmfRedNoPen(), EmfRecord(33, {}), EmfRecord(30, {0, 0, 1, 1}),
                                         EmfRecord(34, {-1}), EmfRecord(43, {2, 1, 10, 6})}),
                kRect2x1To10x6},
        // EMR_BITBLT (76) without a bitmap (cbBmiSrc 0): BLACKNESS (0x42) over (2,1) 8 x 5.
        EmfCase{"pattern blit", Emf24({EmfRecord(76, {0, 0, 0, 0, 2, 1, 8, 5, 0x42, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                      0, 0})}),
                {"........................", "..########..............", "..########..............",
                 "..########..............", "..########..............", "..########..............",
                 "........................", "........................", "........................",
                 "........................", "........................", "........................"}},
        // EMR_STRETCHDIBITS (81): destination (1,1), source (0,0) 2 x 1, header at 80 (40 bytes), bits at
        // 120 (8 bytes), DIB colours, SRCCOPY, destination 4 x 2; the bitmap is one row blue, red.
        // EMR_SETPIXELV (15) puts green at (8,3).
        EmfCase{"stretched bitmap and a pixel",
                Emf24({EmfRecord(81, {0, 0, 0, 0, 1, 1, 0, 0, 2, 1, 80, 40, 120, 8, 0, 0x00CC0020, 4, 2},
                                 Bytes{40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0, 0,
                                       0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0}),
                       EmfRecord(15, {8, 3, kGreen})}),
                {"........................", ".BBRR...................", ".BBRR...................",
                 "........G...............", "........................", "........................",
                 "........................", "........................", "........................",
                 "........................", "........................", "........................"}}),
    CaseName());

TEST(Emf, OwnSizeIsTheFrameAt96Dpi) {
  // 2540 x 1270 hundredths of a millimetre: one inch by half an inch.
  int w = 0, h = 0;
  ASSERT_TRUE(MetafileSize(test::Emf({}, 2540, 1270), MetafileType::kEmf, w, h));
  EXPECT_EQ(w, 96);
  EXPECT_EQ(h, 48);
}

TEST(Metafile, TextIsDrawnInItsColourNearItsReference) {
  // CREATEFONTINDIRECT: height -16 (character height), weight 700, face "Arial"; SETTEXTCOLOR blue;
  // SETBKMODE transparent; TEXTOUT "H" at (4, 4) with the default top-left alignment.
  Bytes font = WmfRecord(0x02FB, {-16, 0, 0, 0, 700, 0, 0, 0, 0}, Bytes{'A', 'r', 'i', 'a', 'l', 0});
  const Bytes file =
      test::Wmf({font, WmfRecord(0x012D, {0}), WmfRecord(0x0209, {int(kBlue & 0xFFFF), int(kBlue >> 16)}),
                 WmfRecord(0x0102, {1}), WmfRecord(0x0521, {1, 'H', 4, 4})},
                0, 0, 32, 32);
  const Picture pic = Render(file, MetafileType::kWmf);
  const std::vector<std::string> art = Art(pic);
  int blue = 0, outside = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      if (art[y][x] != 'B') {
        EXPECT_EQ(art[y][x], '.') << x << "," << y;
        continue;
      }
      ++blue;
      // A 16-pixel "H" starting at (4,4): inside (4,4)-(20,20).
      if (x < 4 || x >= 20 || y < 4 || y >= 20) ++outside;
    }
  EXPECT_GT(blue, 20);
  EXPECT_EQ(outside, 0);
}

// A font of the symbol character set draws the Symbol font's characters
// (a b g p W: alpha beta gamma pi Omega), not the Latin letters; the same
// bytes in a Windows-1252 font are those letters, drawn differently.
TEST(Metafile, SymbolCharsetTextIsGreek) {
  auto text = [](const char* face, int charset) {
    const std::string name(face);
    Bytes faceBytes(name.begin(), name.end());
    faceBytes.push_back(0);
    // CREATEFONTINDIRECT: height -20, weight 400; the word after italic and
    // underline holds strike-out (low byte) and the charset (high byte).
    const Bytes font = WmfRecord(0x02FB, {-20, 0, 0, 0, 400, 0, charset << 8, 0, 0}, faceBytes);
    return test::Wmf({font, WmfRecord(0x012D, {0}), WmfRecord(0x0102, {1}),
                      WmfRecord(0x0521, {5, 'a', 'b' | 'g' << 8, 'p' | 'W' << 8, 4, 4})},
                     0, 0, 96, 32);
  };
  const std::vector<std::string> greek = Art(Render(text("Symbol", 2), MetafileType::kWmf));
  const std::vector<std::string> latin = Art(Render(text("Symbol", 0), MetafileType::kWmf));
  const std::vector<std::string> arial = Art(Render(text("Arial", 0), MetafileType::kWmf));
  int ink = 0;
  for (const std::string& row : greek) ink += int(std::count(row.begin(), row.end(), '#'));
  EXPECT_GT(ink, 40);
  EXPECT_NE(greek, latin);
  EXPECT_NE(greek, arial);
}

// ------------------------------------------------------------------ hostile files

struct HostileCase {
  const char* name;
  Bytes file;
  MetafileType type;
  PicError error;
};

Bytes Patched(Bytes b, size_t at, std::initializer_list<uint8_t> values) {
  for (uint8_t v : values) b[at++] = v;
  return b;
}

class Hostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(Hostile, AreRefused) {
  const HostileCase& c = GetParam();
  EnsureApplication();
  Picture pic;
  pic.pixels.width = 7;  // a failed play leaves the picture as it was
  const Outcome outcome = RenderMetafile(c.file, c.type, pic);
  EXPECT_EQ(outcome.error, c.error) << c.name << ": " << outcome.detail;
  EXPECT_EQ(pic.pixels.width, 7) << c.name;
}

const Bytes kGoodWmf = test::Wmf({WmfRecord(0x041B, {6, 10, 1, 2})}, 0, 0, 24, 12);
const Bytes kGoodEmf = Emf24({EmfRecord(43, {2, 1, 10, 6})});
// In kGoodWmf the rectangle record starts at 22 + 18 = 40; in kGoodEmf at 88.
INSTANTIATE_TEST_SUITE_P(
    Cases, Hostile,
    ::testing::Values(
        HostileCase{"empty box", Patched(kGoodWmf, 10, {0, 0}), MetafileType::kWmf, PicError::kCorrupt},
        HostileCase{"no units per inch", Patched(kGoodWmf, 14, {0, 0}), MetafileType::kWmf, PicError::kCorrupt},
        HostileCase{"too large", Patched(kGoodWmf, 10, {0xFF, 0x7F}), MetafileType::kWmf, PicError::kTooLarge},
        HostileCase{"record of no words", Patched(kGoodWmf, 40, {0, 0, 0, 0}), MetafileType::kWmf, PicError::kCorrupt},
        HostileCase{"record past the end", Patched(kGoodWmf, 40, {0xFF, 0xFF, 0xFF, 0x7F}), MetafileType::kWmf,
                    PicError::kTruncated},
        HostileCase{"cut short", Bytes(kGoodWmf.begin(), kGoodWmf.begin() + 50), MetafileType::kWmf,
                    PicError::kTruncated},
        HostileCase{"polygon longer than its record",
                    test::Wmf({WmfRecord(0x0324, {0x7FFF, 1, 1})}, 0, 0, 24, 12), MetafileType::kWmf,
                    PicError::kTruncated},
        HostileCase{"poly-polygon counts beyond the points",
                    test::Wmf({WmfRecord(0x0538, {2, 0xFFFF, 0xFFFF, 1, 1})}, 0, 0, 24, 12), MetafileType::kWmf,
                    PicError::kTruncated},
        HostileCase{"plain WMF without a window that draws nothing",
                    [] {
                      const Bytes placeable = test::Wmf({RedNoPen()}, 0, 0, 24, 12);
                      return Bytes(placeable.begin() + 22, placeable.end());
                    }(),
                    MetafileType::kWmf, PicError::kCorrupt},
        HostileCase{"not a WMF header", Patched(kGoodWmf, 24, {7}), MetafileType::kWmf, PicError::kUnknownType},
        HostileCase{"empty frame", Patched(kGoodEmf, 32, {0, 0, 0, 0}), MetafileType::kEmf, PicError::kCorrupt},
        HostileCase{"EMF record of odd length", Patched(kGoodEmf, 92, {7}), MetafileType::kEmf, PicError::kCorrupt},
        HostileCase{"EMF record past the end", Patched(kGoodEmf, 92, {0xFC, 0xFF, 0xFF, 0x7F}), MetafileType::kEmf,
                    PicError::kTruncated},
        HostileCase{"bitmap outside its record",
                    Emf24({EmfRecord(81, {0, 0, 0, 0, 1, 1, 0, 0, 2, 1, 80, 40, 0x7FFFFFF0, 8, 0, 0x00CC0020, 4, 2})}),
                    MetafileType::kEmf, PicError::kCorrupt},
        HostileCase{"EMF poly-polygon counts beyond the points",
                    Emf24({EmfRecord(8, {0, 0, 0, 0, 2, 1, 1, 0x7FFFFFFF, 0, 0})}), MetafileType::kEmf,
                    PicError::kCorrupt},
        HostileCase{"saved states without end", [] {
                      Bytes b = Emf24({});
                      Bytes saves;
                      for (int i = 0; i < 5000; ++i) test::Append(saves, EmfRecord(33, {}));
                      b.insert(b.begin() + 88, saves.begin(), saves.end());
                      return b;
                    }(),
                    MetafileType::kEmf, PicError::kTooLarge},
        HostileCase{"region of too many rectangles", [] {
                      // EXTSELECTCLIPRGN, RGN_COPY, a region header (size 32, type 1, 5000 rectangles,
                      // 80000 bytes, bounds) and 5000 one-pixel rectangles along a diagonal.
                      Bytes region;
                      for (int64_t v : {32, 1, 5000, 80000, 0, 0, 5000, 5000}) test::Put32(region, v);
                      for (int i = 0; i < 5000; ++i)
                        for (int64_t v : {i, i, i + 1, i + 1}) test::Put32(region, v);
                      return Emf24({EmfRecord(75, {int64_t(region.size()), 5}, region)});
                    }(),
                    MetafileType::kEmf, PicError::kTooLarge},
        HostileCase{"WMF bytes read as EMF", kGoodWmf, MetafileType::kEmf, PicError::kUnknownType}),
    CaseName());

// The players keep no state of their own and take no lock: two threads play
// different metafiles (object tables, brushes, mapping) at once, while this
// thread holds the stage lock, and each gets the picture it gets alone.
TEST(Metafile, PlaysOnTwoThreadsAtOnceUnderNoStageLock) {
  EnsureApplication();
  const Bytes wmf = test::Wmf({WmfRecord(0x02FC, {0, 0x00FF, 0, 0}), WmfRecord(0x012D, {0}),
                               WmfRecord(0x020C, {24, 48}), WmfRecord(0x041B, {20, 40, 2, 4})},
                              0, 0, 24, 12);
  const Bytes emf = Emf24({EmfRecord(39, {1, 0, 0xFF0000, 0}), EmfRecord(37, {1}), EmfRecord(42, {1, 1, 20, 11})});
  struct Job {
    const Bytes* file;
    MetafileType type;
    int width, height;
    std::vector<uint32_t> alone;
  };
  Job jobs[] = {{&wmf, MetafileType::kWmf, 96, 48, {}}, {&emf, MetafileType::kEmf, 72, 36, {}}};
  for (Job& j : jobs) j.alone = test::Rgb(Render(*j.file, j.type, j.width, j.height));
  Compositor stage(CompositorRole::kStage);
  std::unique_lock stageHeld(stage.Lock());
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (const Job& j : jobs)
    threads.emplace_back([&j, &mismatches] {
      for (int i = 0; i < 40; ++i)
        if (test::Rgb(Render(*j.file, j.type, j.width, j.height)) != j.alone) ++mismatches;
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
}

TEST(Metafile, SizeMustBeTwoSidesOrNone) {
  Picture pic;
  MetafileOptions options;
  options.width = 10;
  EXPECT_EQ(RenderMetafile(kGoodWmf, MetafileType::kWmf, pic, options).error, PicError::kCorrupt);
}

TEST(Metafile, ObjectsOutsideTheTableAreIgnored) {
  // SELECTOBJECT and DELETEOBJECT of slot 0xFFFF, never created, draw the rectangle with the defaults.
  const Bytes file = test::Wmf({WmfRecord(0x012D, {0xFFFF}), WmfRecord(0x01F0, {0xFFFF}),
                                WmfRecord(0x041B, {6, 10, 1, 2})},
                               0, 0, 24, 12);
  const std::vector<std::string> art = Art(Render(file, MetafileType::kWmf));
  EXPECT_EQ(art[3], "..#WWWWWW#..............");  // the default white brush inside the black pen
}

// ------------------------------------------------------------------ against libwmf

// Within `radius` pixels of every pixel of one picture lies a pixel of the
// same colour in the other; edges may stand a pixel apart, shapes may not.
int Mismatches(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int w, int h, int radius) {
  auto near = [&](const std::vector<uint32_t>& in, int x, int y, uint32_t colour) {
    for (int dy = -radius; dy <= radius; ++dy)
      for (int dx = -radius; dx <= radius; ++dx) {
        const int nx = x + dx, ny = y + dy;
        if (nx >= 0 && ny >= 0 && nx < w && ny < h && in[size_t(ny) * w + nx] == colour) return true;
      }
    return false;
  };
  int bad = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const size_t i = size_t(y) * w + x;
      if (!near(b, x, y, a[i]) || !near(a, x, y, b[i])) ++bad;
    }
  return bad;
}

struct OracleCase {
  const char* name;
  Bytes file;
};

// libwmf's picture of `file` fitted into 200 x 100, against ours at that size.
void ExpectSameAsLibwmf(const char* name, const Bytes& file) {
  ASSERT_STRNE(KV_WMF2GD, "") << "wmf2gd is missing: run scripts/install-deps.sh";
  const fs::path dir = fs::temp_directory_path() / ("kv_wmf_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path in = dir / "case.wmf", out = dir / "case.png";
  std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  const std::string command = std::string(KV_WMF2GD) + " --maxwidth=200 --maxheight=100 --maxsize -o " +
                              out.string() + " " + in.string() + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  Picture theirs;
  DecodeOptions white;
  white.backdrop = ColorRef(0xFFFFFF);
  ASSERT_TRUE(DecodeFile(out.string(), theirs, nullptr, white));
  fs::remove_all(dir);

  EnsureApplication();
  MetafileOptions options;
  options.background = ColorRef(0xFFFFFF);
  options.width = 200;
  options.height = 100;
  Picture ours;
  ASSERT_TRUE(RenderMetafile(file, MetafileType::kWmf, ours, options));
  ASSERT_EQ(theirs.pixels.width, 200);
  ASSERT_EQ(theirs.pixels.height, 100);
  ASSERT_EQ(ours.pixels.width, 200);
  ASSERT_EQ(ours.pixels.height, 100);
  const int bad = Mismatches(test::Rgb(ours), test::Rgb(theirs), 200, 100, 2);
  EXPECT_EQ(bad, 0) << name;
}

class AgainstLibwmf : public ::testing::TestWithParam<OracleCase> {};

// Placeable cases: the box is 200 x 100, so the own size is the compared one.
TEST_P(AgainstLibwmf, DrawsTheSamePicture) {
  const OracleCase& c = GetParam();
  int w = 0, h = 0;
  ASSERT_TRUE(MetafileSize(c.file, MetafileType::kWmf, w, h));
  ASSERT_EQ(w, 200);
  ASSERT_EQ(h, 100);
  ExpectSameAsLibwmf(c.name, c.file);
}

// Every case first fills the whole window (0,0)-(right,bottom) yellow without
// a pen, because libwmf fits the drawing's own extent to the picture.
Bytes FrameAt(int left, int top, int right, int bottom) {
  Bytes b = WmfRecord(0x02FC, {0, 0xFFFF, 0x0000, 0});  // yellow brush -> slot 0
  test::Append(b, WmfRecord(0x02FA, {5, 0, 0, 0, 0}));  // null pen -> slot 1
  test::Append(b, WmfRecord(0x012D, {0}));
  test::Append(b, WmfRecord(0x012D, {1}));
  test::Append(b, WmfRecord(0x041B, {bottom, right, top, left}));
  test::Append(b, WmfRecord(0x01F0, {0}));  // slot 0 free again
  test::Append(b, WmfRecord(0x01F0, {1}));
  return b;
}
Bytes Frame(int right = 200, int bottom = 100) { return FrameAt(0, 0, right, bottom); }
// A solid brush of `rgb` and a pen of `width` and `rgb2`, both selected (slots 0 and 1).
Bytes BrushAndPen(uint32_t rgb, int width, uint32_t penRgb, int penStyle = 0) {
  Bytes b = WmfRecord(0x02FC, {0, int(rgb & 0xFFFF), int(rgb >> 16), 0});
  test::Append(b, WmfRecord(0x02FA, {penStyle, width, 0, int(penRgb & 0xFFFF), int(penRgb >> 16)}));
  test::Append(b, WmfRecord(0x012D, {0}));
  test::Append(b, WmfRecord(0x012D, {1}));
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AgainstLibwmf,
    ::testing::Values(
        OracleCase{"rectangles", test::Wmf({Frame(), BrushAndPen(kRed, 0, 0, 5), WmfRecord(0x041B, {50, 90, 10, 20}),
                                            WmfRecord(0x041B, {95, 190, 60, 120})},
                                           0, 0, 200, 100)},
        OracleCase{"polygon and polyline",
                   test::Wmf({Frame(), BrushAndPen(kBlue, 0, 0, 5),
                              WmfRecord(0x0324, {3, 120, 95, 190, 95, 155, 20}),
                              WmfRecord(0x02FA, {0, 1, 0, int(kGreen & 0xFFFF), 0}), WmfRecord(0x012D, {2}),
                              WmfRecord(0x0325, {4, 10, 90, 40, 20, 70, 90, 100, 20})},
                             0, 0, 200, 100)},
        OracleCase{"pens", test::Wmf({Frame(), BrushAndPen(kRed, 1, 0), WmfRecord(0x041B, {50, 90, 10, 20}),
                                      WmfRecord(0x02FA, {0, 6, 0, int(kBlue & 0xFFFF), int(kBlue >> 16)}),
                                      WmfRecord(0x012D, {2}), WmfRecord(0x0214, {80, 110}),
                                      WmfRecord(0x0213, {80, 190}), WmfRecord(0x0213, {20, 190})},
                                     0, 0, 200, 100)},
        OracleCase{"poly-polygon",
                   test::Wmf({Frame(), BrushAndPen(kRed, 0, 0, 5),
                              WmfRecord(0x0538, {2, 4, 4, 10, 10, 110, 10, 110, 90, 10, 90, 40, 30, 80, 30, 80, 70, 40,
                                                 70})},
                             0, 0, 200, 100)},
        OracleCase{"clipped", test::Wmf({Frame(), BrushAndPen(kBlue, 0, 0, 5), WmfRecord(0x0416, {80, 150, 20, 50}),
                                         WmfRecord(0x0415, {60, 120, 40, 80}), WmfRecord(0x041B, {100, 200, 0, 0})},
                                        0, 0, 200, 100)},
        OracleCase{"window scaled", test::Wmf({WmfRecord(0x020C, {200, 400}), Frame(400, 200),
                                               BrushAndPen(kRed, 0, 0, 5), WmfRecord(0x041B, {180, 300, 40, 100})},
                                              0, 0, 200, 100)}),
    CaseName());

// Without the placeable header and without a window extent a metafile is as
// large as what it draws, placed at the picture's top left, as libwmf sizes
// it; a window origin moves the drawing first.
struct PlainCase {
  const char* name;
  Bytes records;
  int width, height;  // own size
};

class PlainAgainstLibwmf : public ::testing::TestWithParam<PlainCase> {};

TEST_P(PlainAgainstLibwmf, SizedByTheirDrawing) {
  const PlainCase& c = GetParam();
  const Bytes placeable = test::Wmf({c.records}, 0, 0, 1, 1);
  const Bytes plain(placeable.begin() + 22, placeable.end());
  int w = 0, h = 0;
  const Outcome sized = MetafileSize(plain, MetafileType::kWmf, w, h);
  ASSERT_TRUE(sized) << sized.detail;
  EXPECT_EQ(w, c.width);
  EXPECT_EQ(h, c.height);
  ExpectSameAsLibwmf(c.name, plain);
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) test::Append(b, p);
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlainAgainstLibwmf,
    ::testing::Values(
        PlainCase{"at the origin",
                  Cat({Frame(), BrushAndPen(kRed, 0, 0, 5), WmfRecord(0x041B, {50, 90, 10, 20}),
                       WmfRecord(0x0324, {3, 120, 95, 190, 95, 155, 20})}),
                  200, 100},
        PlainCase{"away from the origin",
                  Cat({FrameAt(30, 40, 230, 140), BrushAndPen(kBlue, 0, 0, 5), WmfRecord(0x041B, {90, 130, 50, 60}),
                       WmfRecord(0x0324, {3, 150, 135, 220, 135, 185, 95})}),
                  200, 100},
        PlainCase{"window origin only",
                  Cat({WmfRecord(0x020B, {-20, -50}), FrameAt(-50, -20, 150, 80), BrushAndPen(kRed, 0, 0, 5),
                       WmfRecord(0x041B, {60, 100, 0, -30})}),
                  200, 100}),
    CaseName());

// ------------------------------------------------------------------ the loader

TEST(PictureFileLoader, PlaysMetafilesByNameAndRasterByContent) {
  EnsureApplication();
  const fs::path dir = fs::temp_directory_path() / ("kv_meta_loader_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  auto write = [&](const char* name, const Bytes& bytes) {
    std::ofstream((dir / name).string(), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return (dir / name).string();
  };
  const std::string wmf = write("DRAWING.WMF", kGoodWmf);
  const std::string emfNamedWmf = write("other.wmf", kGoodEmf);
  const std::string emf = write("drawing.emf", kGoodEmf);
  Picture raster;
  raster.pixels.width = 3, raster.pixels.height = 2, raster.pixels.bitsPerPixel = 24, raster.pixels.stride = 12;
  raster.pixels.bits.assign(24, 0x40);
  std::vector<uint8_t> bmp;
  ASSERT_TRUE(Encode(raster.pixels.View(), FileType::kBmp, bmp));
  const std::string photo = write("photo.bmp", bmp);

  PictureFileLoader loader;
  DecodedPicture out;
  ASSERT_EQ(loader.Load(wmf, out), 0);
  EXPECT_TRUE(loader.LastWasMetafile());
  EXPECT_EQ(out.width, 24);
  EXPECT_EQ(out.height, 12);
  EXPECT_EQ(loader.HeightAtWidth100(), 50);

  loader.SetMetafileSize(48, 30);
  ASSERT_EQ(loader.Load(emf, out), 0);
  EXPECT_EQ(out.width, 48);
  EXPECT_EQ(out.height, 30);

  EXPECT_EQ(loader.Load(emfNamedWmf, out), kErrUnknownFileType);
  EXPECT_EQ(loader.LastError(), PicError::kUnknownType);
  EXPECT_EQ(out.width, 48);  // a failed load leaves the picture

  ASSERT_EQ(loader.Load(photo, out), 0);
  EXPECT_FALSE(loader.LastWasMetafile());
  EXPECT_EQ(out.width, 3);
  fs::remove_all(dir);
}


struct LoadCase {
  const char* name;      // under the test folder
  const char* content;   // "wmf", "emf", "bmp", "gif", "text" or "" (no file)
  int width, height;     // asked for
  int result;
  int gotWidth, gotHeight;  // 0 x 0: nothing loaded
  bool metafile;
  size_t paletteSize;
};

void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }

class LoadPictureFileTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadPictureFileTest, ActsByTheFourCharacterExtension) {
  EnsureApplication();
  const LoadCase& c = GetParam();
  const fs::path dir = fs::temp_directory_path() / ("kv_load_picture_" + std::to_string(::getpid()));
  fs::create_directories(dir / "a.b");
  // A 3 x 2 24-bit bitmap and a 2 x 1 GIF of two colours, written by our encoders.
  DecodedPicture raster;
  raster.width = 3, raster.height = 2, raster.bitsPerPixel = 24, raster.stride = 12;
  raster.bits.assign(24, 0x40);
  DecodedPicture indexed;
  indexed.width = 2, indexed.height = 1, indexed.bitsPerPixel = 8, indexed.stride = 4;
  indexed.bits = {0, 1, 0, 0};
  indexed.colorTable = {ColorRef::FromRgb(255, 0, 0), ColorRef::FromRgb(0, 0, 255)};
  Bytes bytes;
  const std::string content = c.content;
  if (content == "wmf") bytes = kGoodWmf;
  if (content == "emf") bytes = kGoodEmf;
  if (content == "bmp" || content == "gif") {
    const bool bmp = content == "bmp";
    ASSERT_TRUE(Encode(bmp ? raster.View() : indexed.View(), bmp ? FileType::kBmp : FileType::kGif, bytes));
  }
  if (content == "text") bytes = {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'};
  if (content == "huge") {
    // "BM", file size, two reserved words, offset 54; a 40-byte header of
    // 20000 x 1 pixels, 1 plane, 24 bits, no compression; the one row of 60000 bytes.
    bytes = {'B', 'M'};
    for (int64_t v : {54 + 60000, 0, 54, 40, 20000, 1}) test::Put32(bytes, v);
    test::Put16(bytes, 1);
    test::Put16(bytes, 24);
    for (int64_t v : {0, 60000, 0, 0, 0, 0}) test::Put32(bytes, v);
    bytes.resize(bytes.size() + 60000);
  }
  const std::string path = (dir / c.name).string();
  if (!content.empty())
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));

  DecodedPicture bitmap;
  Palette palette;
  StageSprite sprite;
  sprite.fromMetafile = !c.metafile;  // so that the marks are seen to be set
  EXPECT_EQ(LoadPictureFile(path, c.width, c.height, bitmap, palette, &sprite), c.result);
  EXPECT_EQ(bitmap.width, c.gotWidth);
  EXPECT_EQ(bitmap.height, c.gotHeight);
  EXPECT_EQ(palette.entries.size(), c.paletteSize);
  if (c.result == 0 && c.gotWidth > 0) {
    EXPECT_EQ(sprite.fromMetafile, c.metafile);
    // kGoodWmf is 24 x 12 pixels; kGoodEmf's frame of 240 x 120 hundredths of a
    // millimetre is 9 x 5 pixels at 96 dpi: (5 * 100 + 4) / 9 = 56.
    EXPECT_EQ(sprite.metafileHeightAt100, !c.metafile ? 0 : content == "emf" ? 56 : 50);
  }
  if (content == "gif" && c.result == 0) {
    EXPECT_EQ(palette.entries, indexed.colorTable);
  }
  if (c.metafile) {
    EXPECT_EQ(palette, DefaultPalette());
  }

  // The sprite's loader answers by the same rules; a metafile asked for
  // without two sides comes at its own size (kGoodWmf 24 x 12, kGoodEmf 9 x 5).
  PictureFileLoader loader;
  DecodedPicture shown;
  EXPECT_EQ(loader.LoadSized(path, c.width, c.height, shown), c.result);
  EXPECT_EQ(loader.LastWasMetafile(), c.metafile);
  const bool ownSize = c.metafile && (c.width == 0 || c.height == 0);
  EXPECT_EQ(shown.width, !ownSize ? c.gotWidth : content == "emf" ? 9 : 24);
  EXPECT_EQ(shown.height, !ownSize ? c.gotHeight : content == "emf" ? 5 : 12);
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Names, LoadPictureFileTest,
    ::testing::Values(
        // Metafiles: 100 wide at their aspect ratio unless a size is asked for.
        LoadCase{"DRAWING.WMF", "wmf", 0, 0, 0, 100, 50, true, 256},
        LoadCase{"drawing.wmf", "wmf", 48, 0, 0, 100, 50, true, 256},
        LoadCase{"Drawing.Emf", "emf", 48, 30, 0, 48, 30, true, 256},
        LoadCase{"OTHER.WMF", "emf", 0, 0, 11, 0, 0, false, 0},
        LoadCase{"NONE.WMF", "", 0, 0, 8, 0, 0, false, 0},
        // Bitmaps by the bitmap reader alone: anything else there is an unknown type.
        LoadCase{"PHOTO.BMP", "bmp", 40, 40, 0, 3, 2, false, 0},
        LoadCase{"photo.dib", "bmp", 0, 0, 0, 3, 2, false, 0},
        LoadCase{"GIF.BMP", "gif", 0, 0, 11, 0, 0, false, 0},
        LoadCase{"TEXT.BMP", "text", 0, 0, 11, 0, 0, false, 0},
        LoadCase{"NONE.BMP", "", 0, 0, 11, 0, 0, false, 0},
        LoadCase{"HUGE.BMP", "huge", 0, 0, 11, 0, 0, false, 0},
        // Other extensions through the picture object, by content.
        LoadCase{"INDEXED.GIF", "gif", 0, 0, 0, 2, 1, false, 2},
        LoadCase{"BITMAP.PCX", "bmp", 0, 0, 0, 3, 2, false, 0},
        LoadCase{"TEXT.JPG", "text", 0, 0, 11, 0, 0, false, 0},
        LoadCase{"NONE.JPG", "", 0, 0, 8, 0, 0, false, 0},
        LoadCase{"HUGE.PCX", "huge", 0, 0, 8, 0, 0, false, 0},
        // No extension of four characters: nothing loaded, and no error.
        LoadCase{"PHOTO.JPEG", "bmp", 0, 0, 0, 0, 0, false, 0},
        LoadCase{"PHOTO.JP", "bmp", 0, 0, 0, 0, 0, false, 0},
        LoadCase{"PHOTO", "bmp", 0, 0, 0, 0, 0, false, 0},
        // A dot in a folder's name is no extension.
        LoadCase{"a.b/c", "bmp", 0, 0, 0, 0, 0, false, 0}),
    [](const ::testing::TestParamInfo<LoadCase>& info) {
      std::string name = std::to_string(info.index) + "_";
      for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

}  // namespace
}  // namespace kv::imaging
