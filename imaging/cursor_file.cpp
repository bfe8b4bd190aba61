// Cursor (type 2) and icon (type 1) resource files: a directory of entries,
// each image a PNG stream or a bitmap of doubled height whose colour rows are
// followed by a 1-bit AND mask. Bitmaps go through the picture library's DIB
// reader; PNG through libpng's simplified API.
#include "imaging/cursor_file.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "imaging/codec_internal.h"
#include "platform/byte_reader.h"
#include "platform/files.h"

namespace kv::imaging {

namespace {

constexpr uint16_t kIconType = 1;
constexpr uint16_t kCursorType = 2;
constexpr size_t kDirectoryBytes = 6;
constexpr size_t kEntryBytes = 16;
constexpr int kPreferredSide = 32;
// A file whose best entries are all damaged is refused after this many, so
// that a directory of thousands of entries cannot multiply the work.
constexpr size_t kEntriesTried = 4;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// The Windows bitmap information headers, version 3 to 5.
constexpr uint32_t kWindowsHeaderBytes[] = {40, 52, 56, 108, 124};
constexpr uint32_t kLargestHeaderBytes = 124;
constexpr uint32_t kUncompressed = 0;

struct CursorError {
  std::string why;
};
[[noreturn]] void Fail(std::string why) { throw CursorError{std::move(why)}; }
// The readers' short-read handler; the context is the text to report.
void EndsEarly(const void* why) { Fail(static_cast<const char*>(why)); }

struct Entry {
  size_t index = 0;
  int width = 0;  // as the directory states it; the image's own header decides
  int height = 0;
  uint16_t hotX = 0;  // planes and bit count in an icon file
  uint16_t hotY = 0;
  uint32_t size = 0;
  uint32_t offset = 0;
  int depth = 0;  // bits per pixel from the image's header, 0 when unreadable
};

bool IsPng(std::span<const uint8_t> data) {
  return data.size() >= sizeof kPngSignature && std::memcmp(data.data(), kPngSignature, sizeof kPngSignature) == 0;
}

// The entry's bytes, which must lie inside the file.
std::span<const uint8_t> EntryData(std::span<const uint8_t> file, const Entry& e) {
  if (uint64_t(e.offset) + e.size > file.size()) Fail("image data lies outside the file");
  return file.subspan(e.offset, e.size);
}

int DepthOf(std::span<const uint8_t> file, const Entry& e) {
  if (uint64_t(e.offset) + e.size > file.size()) return 0;
  const auto data = file.subspan(e.offset, e.size);
  if (IsPng(data)) return 32;
  return data.size() >= 16 ? LoadLe16(&data[14]) : 0;
}

// Closest to 32x32 by the sum of the sides' distances; on a tie the larger
// image (scaling down looks better than up), then the deeper one, then the
// earlier entry.
bool Preferred(const Entry& a, const Entry& b) {
  auto distance = [](const Entry& e) { return std::abs(e.width - kPreferredSide) + std::abs(e.height - kPreferredSide); };
  if (distance(a) != distance(b)) return distance(a) < distance(b);
  if (a.width * a.height != b.width * b.height) return a.width * a.height > b.width * b.height;
  if (a.depth != b.depth) return a.depth > b.depth;
  return a.index < b.index;
}

void CheckSides(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0) Fail("the cursor image has no pixels");
  if (width > kMaxCursorSide || height > kMaxCursorSide) Fail("the cursor image is larger than 256x256");
}

CursorImage DecodePngImage(std::span<const uint8_t> data) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  struct Release {
    png_image* image;
    ~Release() { png_image_free(image); }
  } release{&image};
  if (!png_image_begin_read_from_memory(&image, data.data(), data.size()))
    Fail(std::string("the PNG image is unreadable: ") + image.message);
  CheckSides(image.width, image.height);
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr))
    Fail(std::string("the PNG image is unreadable: ") + image.message);
  CursorImage out;
  out.width = int(image.width);
  out.height = int(image.height);
  out.argb.resize(size_t(out.width) * size_t(out.height));
  for (size_t i = 0; i < out.argb.size(); ++i) {
    const uint8_t* p = &rgba[4 * i];
    out.argb[i] = uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
  }
  return out;
}

CursorImage DecodeBitmapImage(std::span<const uint8_t> data) {
  kv::ByteReader in(data, EndsEarly, "image data ends early");
  const uint32_t headerBytes = in.U32();
  if (std::find(std::begin(kWindowsHeaderBytes), std::end(kWindowsHeaderBytes), headerBytes) ==
      std::end(kWindowsHeaderBytes))
    Fail("the cursor image is neither a bitmap nor a PNG stream");
  const int32_t width = in.I32();
  const int32_t doubled = in.I32();  // colour rows and mask rows together
  if (in.U16() != 1) Fail("the cursor image has a plane count other than 1");
  const uint16_t bits = in.U16();
  const uint32_t compression = in.U32();
  // A negative height would be top-down rows, which icon bitmaps never use.
  CheckSides(width, doubled / 2);
  const int height = doubled / 2;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
    Fail("the cursor image has an unsupported bit count");
  if (compression != kUncompressed) Fail("the cursor image is compressed");

  // The DIB reader sees the colour rows alone: a copy with the height halved,
  // no longer than the largest header, table, rows and mask can be.
  const uint64_t maskStride = detail::PaddedStride(uint64_t(width), 1);
  const uint64_t longest =
      kLargestHeaderBytes + 4 * 256 + (detail::PaddedStride(uint64_t(width), bits) + maskStride) * uint64_t(height);
  std::vector<uint8_t> dib(data.begin(), data.begin() + ptrdiff_t(std::min<uint64_t>(data.size(), longest)));
  const uint32_t halved = uint32_t(height);
  std::memcpy(&dib[8], &halved, 4);  // both little-endian
  Picture pic;
  uint64_t maskAt = 0;
  try {
    DecodeOptions options;
    options.maxPixels = uint64_t(kMaxCursorSide) * kMaxCursorSide;
    maskAt = detail::DecodeDib(dib, 0, 0, pic, options);
  } catch (const detail::Failure& f) {
    Fail(f.error == PicError::kTruncated ? "image data ends early" : f.why);
  }
  const PictureView view = pic.pixels.View();

  // 32-bit images carry alpha; when every alpha is 0 the image predates
  // alpha and the mask decides, as it does for every other depth.
  bool alpha = false;
  if (bits == 32)
    for (int y = 0; y < height && !alpha; ++y)
      for (int x = 0; x < width && !alpha; ++x) alpha = view.bits[view.stride * y + 4 * x + 3] != 0;
  const uint8_t* mask = nullptr;
  if (!alpha) {
    if (maskAt + maskStride * uint64_t(height) > dib.size()) Fail("image data ends early");
    mask = dib.data() + maskAt;
  }

  CursorImage out;
  out.width = width;
  out.height = height;
  out.argb.resize(size_t(width) * size_t(height));
  std::vector<uint8_t> rgb(size_t(width) * 3);
  for (int y = 0; y < height; ++y) {
    RowToRgb(view, y, rgb.data());
    const uint8_t* maskRow = mask ? mask + maskStride * uint64_t(height - 1 - y) : nullptr;  // bottom-up
    for (int x = 0; x < width; ++x) {
      const uint8_t* c = &rgb[size_t(3 * x)];
      const uint32_t colour = uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2];
      uint32_t& argb = out.argb[size_t(y) * size_t(width) + size_t(x)];
      if (alpha) {
        argb = uint32_t(view.bits[view.stride * y + 4 * x + 3]) << 24 | colour;
      } else if (!(maskRow[x / 8] & (0x80 >> (x % 8)))) {
        argb = 0xFF000000 | colour;
      } else {
        // AND 1 over a non-black colour inverts the screen, which host
        // cursors cannot do portably: such pixels are drawn opaque black,
        // so the cursor's outline stays visible on every background.
        argb = colour ? 0xFF000000 : 0;
      }
    }
  }
  return out;
}

CursorImage DecodeEntry(std::span<const uint8_t> file, const Entry& e, bool cursor) {
  const auto data = EntryData(file, e);
  CursorImage image = IsPng(data) ? DecodePngImage(data) : DecodeBitmapImage(data);
  if (cursor) {
    // A hotspot outside the image is held at its nearest edge.
    image.hotX = std::min<int>(e.hotX, image.width - 1);
    image.hotY = std::min<int>(e.hotY, image.height - 1);
  } else {
    image.hotX = image.width / 2;  // an icon points with its centre
    image.hotY = image.height / 2;
  }
  return image;
}

bool IsAnimated(std::span<const uint8_t> bytes) {
  return bytes.size() >= 12 && std::memcmp(bytes.data(), "RIFF", 4) == 0 && std::memcmp(&bytes[8], "ACON", 4) == 0;
}

CursorImage DecodeStill(std::span<const uint8_t> bytes) {
  if (bytes.size() < kDirectoryBytes) Fail("not a cursor file");
  const uint16_t type = LoadLe16(&bytes[2]);
  if (LoadLe16(&bytes[0]) != 0 || (type != kCursorType && type != kIconType)) Fail("not a cursor file");
  const uint16_t count = LoadLe16(&bytes[4]);
  if (count == 0) Fail("the cursor file holds no images");

  kv::ByteReader in(bytes, EndsEarly, "the cursor directory ends early");
  in.Seek(kDirectoryBytes);
  std::vector<Entry> entries(count);
  for (size_t i = 0; i < count; ++i) {
    Entry& e = entries[i];
    e.index = i;
    e.width = in.U8();
    e.height = in.U8();
    if (e.width == 0) e.width = kMaxCursorSide;
    if (e.height == 0) e.height = kMaxCursorSide;
    in.Skip(2);  // colour count, reserved
    e.hotX = in.U16();
    e.hotY = in.U16();
    e.size = in.U32();
    e.offset = in.U32();
    e.depth = DepthOf(bytes, e);
  }
  const size_t tried = std::min(entries.size(), kEntriesTried);
  std::partial_sort(entries.begin(), entries.begin() + ptrdiff_t(tried), entries.end(), Preferred);
  // A damaged entry gives way to the next best; the best one's failure is
  // the one reported.
  std::optional<CursorError> first;
  for (size_t i = 0; i < tried; ++i) {
    try {
      return DecodeEntry(bytes, entries[i], type == kCursorType);
    } catch (const CursorError& e) {
      if (!first) first = e;
    }
  }
  throw *first;
}

// The animated cursor format: RIFF chunks (a four-character id, a byte
// count, the bytes, a pad byte to an even length) after "RIFF" size "ACON".
// "anih" is the header (frame and step counts, the default step time in
// sixtieths of a second, the flags: 1 frames are icon resources, 2 a "seq "
// chunk orders them); "rate" gives each step's time and "seq " its frame;
// the frames are the "icon" chunks of a "LIST" of type "fram".
constexpr uint32_t kFramesAreIcons = 1;
constexpr uint32_t kHasSequence = 2;
constexpr size_t kAnimationHeaderBytes = 36;

int JiffiesToMs(uint32_t jiffies) {
  // A step of no time would spin the animation: it lasts one sixtieth.
  return int((uint64_t(std::clamp<uint32_t>(jiffies, 1, 60u * 3600u)) * 1000 + 30) / 60);
}

AnimatedCursor DecodeAnimation(std::span<const uint8_t> bytes) {
  const uint32_t riffBytes = LoadLe32(&bytes[4]);
  const size_t end = std::min<uint64_t>(bytes.size(), uint64_t(riffBytes) + 8);
  const auto body = bytes.first(end);
  kv::ByteReader in(body, EndsEarly, "the animated cursor ends early");
  in.Seek(12);
  bool haveHeader = false;
  uint32_t frameCount = 0, stepCount = 0, defaultRate = 0, flags = 0;
  std::vector<uint32_t> rates, sequence;
  std::vector<std::span<const uint8_t>> frameData;
  auto readList = [&](size_t count) {
    std::vector<uint32_t> values(count);
    for (uint32_t& v : values) v = in.U32();
    return values;
  };
  while (in.Remaining() >= 8) {
    char id[4];
    for (char& c : id) c = char(in.U8());
    const uint32_t size = in.U32();
    if (size > in.Remaining()) Fail("an animated cursor chunk lies outside the file");
    const size_t start = in.Position();
    if (std::memcmp(id, "anih", 4) == 0) {
      if (size < kAnimationHeaderBytes) Fail("the animated cursor header is too short");
      in.Skip(4);  // its own size
      frameCount = in.U32();
      stepCount = in.U32();
      in.Skip(16);  // width, height, bit count, planes: the frames say
      defaultRate = in.U32();
      flags = in.U32();
      haveHeader = true;
    } else if (std::memcmp(id, "rate", 4) == 0 || std::memcmp(id, "seq ", 4) == 0) {
      auto& list = id[0] == 'r' ? rates : sequence;
      list = readList(std::min<size_t>(size / 4, kMaxCursorSteps));
    } else if (std::memcmp(id, "LIST", 4) == 0 && size >= 4) {
      char type[4];
      for (char& c : type) c = char(in.U8());
      if (std::memcmp(type, "fram", 4) == 0) {
        while (in.Position() + 8 <= start + size) {
          char sub[4];
          for (char& c : sub) c = char(in.U8());
          const uint32_t subSize = in.U32();
          if (subSize > start + size - in.Position()) Fail("an animated cursor frame lies outside its list");
          if (std::memcmp(sub, "icon", 4) == 0) {
            if (frameData.size() >= kMaxCursorFrames) Fail("the animated cursor has too many frames");
            frameData.push_back(body.subspan(in.Position(), subSize));
          }
          in.Seek(std::min<uint64_t>(in.Position() + subSize + (subSize & 1), start + size));
        }
      }
    }
    in.Seek(std::min<uint64_t>(start + size + (size & 1), body.size()));
  }
  if (!haveHeader) Fail("the animated cursor has no header");
  if (!(flags & kFramesAreIcons)) Fail("animated cursor frames that are not icon resources are not supported");
  if (frameCount == 0 || frameData.empty()) Fail("the animated cursor has no frames");
  if (frameCount > kMaxCursorFrames || stepCount > kMaxCursorSteps) Fail("the animated cursor has too many frames");
  if (frameData.size() < frameCount) Fail("the animated cursor has fewer frames than its header says");
  if (stepCount == 0) stepCount = frameCount;
  AnimatedCursor out;
  for (uint32_t i = 0; i < frameCount; ++i) out.frames.push_back(DecodeStill(frameData[i]));
  const bool sequenced = (flags & kHasSequence) && !sequence.empty();
  for (uint32_t i = 0; i < stepCount; ++i) {
    AnimatedCursor::Step step;
    step.frame = sequenced ? (i < sequence.size() ? sequence[i] : 0) : i % frameCount;
    if (step.frame >= frameCount) Fail("an animated cursor step shows a frame it does not have");
    step.ms = JiffiesToMs(i < rates.size() ? rates[i] : defaultRate);
    out.steps.push_back(step);
  }
  return out;
}

AnimatedCursor DecodeAny(std::span<const uint8_t> bytes) {
  if (IsAnimated(bytes)) return DecodeAnimation(bytes);
  AnimatedCursor still;
  still.frames.push_back(DecodeStill(bytes));
  still.steps.push_back({0, 0});
  return still;
}

template <class T>
std::optional<T> Guarded(T (*decode)(std::span<const uint8_t>), std::span<const uint8_t> bytes, std::string* error) {
  try {
    return decode(bytes);
  } catch (const CursorError& e) {
    if (error) *error = e.why;
  } catch (const std::bad_alloc&) {
    if (error) *error = "not enough memory for the cursor";
  }
  return std::nullopt;
}

CursorImage DecodeFirst(std::span<const uint8_t> bytes) {
  if (!IsAnimated(bytes)) return DecodeStill(bytes);
  AnimatedCursor a = DecodeAnimation(bytes);
  return std::move(a.frames[a.steps.front().frame]);
}

std::optional<std::string> ReadCursorBytes(const std::filesystem::path& file, std::string* error) {
  std::string bytes;
  int err = 0;
  if (!ReadHostFile(file.string(), bytes, &err, kMaxCursorFileBytes)) {
    if (error) *error = err == EFBIG ? "the cursor file is too large" : "cannot read " + file.string() + ": " + ErrnoText(err);
    return std::nullopt;
  }
  return bytes;
}

std::span<const uint8_t> AsBytes(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

}  // namespace

std::optional<AnimatedCursor> DecodeAnimatedCursor(std::span<const uint8_t> bytes, std::string* error) {
  return Guarded(DecodeAny, bytes, error);
}

std::optional<AnimatedCursor> LoadAnimatedCursor(const std::filesystem::path& file, std::string* error) {
  auto bytes = ReadCursorBytes(file, error);
  return bytes ? DecodeAnimatedCursor(AsBytes(*bytes), error) : std::nullopt;
}

std::optional<CursorImage> DecodeCursorFile(std::span<const uint8_t> bytes, std::string* error) {
  return Guarded(DecodeFirst, bytes, error);
}

std::optional<CursorImage> LoadCursorFile(const std::filesystem::path& file, std::string* error) {
  auto bytes = ReadCursorBytes(file, error);
  return bytes ? DecodeCursorFile(AsBytes(*bytes), error) : std::nullopt;
}

}  // namespace kv::imaging
