// kvtool compose: builds a compositor from a JSON scene, composes the whole
// stage once and writes it as PNG; --hit asks the hit test at given points.
// The compositor's scriptable front for tests and bug reports.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "imaging/picture_codec.h"
#include "stage/compositor.h"
#include "tools/kvtool/commands.h"

namespace kv::tool {

namespace {

using nlohmann::json;

constexpr OptionSpec kOptions[] = {
    {"-o", "OUT.png", "the picture to write (required)"},
    {"--hit", "X,Y", "print the index of the sprite hit at the point, -1 for none; repeatable"},
};

}  // namespace

const CommandSpec kComposeSpec{"compose", "SCENE.json", "composite a stage description (BMP sprites) to PNG",
                               kOptions};

namespace {

// A field error names the sprite and the field, for hand-written scenes.
struct SceneError {
  int code;
  std::string message;
};

ColorRef ColorField(const json& j, const char* field, ColorRef fallback) {
  if (!j.contains(field)) return fallback;
  const json& v = j.at(field);
  if (v.is_number_unsigned() || v.is_number_integer()) return ColorRef(v.get<uint32_t>());
  if (v.is_string()) {
    const std::string s = v.get<std::string>();
    char* end = nullptr;
    const unsigned long n = std::strtoul(s.c_str(), &end, 0);
    if (end && *end == 0 && !s.empty()) return ColorRef(uint32_t(n));
  }
  throw SceneError{kExitBadData, std::string("'") + field + "' must be a number such as 0x00BBGGRR"};
}

// An integer field within [min, max]; get<int> would wrap a larger number.
int IntField(const json& j, const char* field, int fallback, int64_t min, int64_t max) {
  if (!j.contains(field)) return fallback;
  const json& v = j.at(field);
  if (!v.is_number_integer() || v.get<int64_t>() < min || v.get<int64_t>() > max)
    throw SceneError{kExitBadData, std::string("'") + field + "' must be an integer from " + std::to_string(min) +
                                       " to " + std::to_string(max)};
  return int(v.get<int64_t>());
}

Rect RectField(const json& j, const char* field, const Rect& fallback) {
  if (!j.contains(field)) return fallback;
  const json& v = j.at(field);
  if (!v.is_array() || v.size() != 4)
    throw SceneError{kExitBadData, std::string("'") + field + "' must be [left, top, right, bottom]"};
  constexpr int64_t kMin = std::numeric_limits<int>::min(), kMax = std::numeric_limits<int>::max();
  const json edges = {{"left", v[0]}, {"top", v[1]}, {"right", v[2]}, {"bottom", v[3]}};
  return {IntField(edges, "left", 0, kMin, kMax), IntField(edges, "top", 0, kMin, kMax),
          IntField(edges, "right", 0, kMin, kMax), IntField(edges, "bottom", 0, kMin, kMax)};
}

bool FlagField(const json& j, const char* field, bool fallback) {
  if (!j.contains(field)) return fallback;
  const json& v = j.at(field);
  return v.is_boolean() ? v.get<bool>() : v.get<int>() != 0;
}

struct Scene {
  Compositor compositor{CompositorRole::kStage};
  std::vector<std::unique_ptr<StageSprite>> sprites;
};

void BuildScene(const json& doc, const std::filesystem::path& baseDir, Scene& scene) {
  if (!doc.is_object()) throw SceneError{kExitBadData, "the scene must be a JSON object"};
  if (!doc.contains("width") || !doc.contains("height")) throw SceneError{kExitBadData, "'width' and 'height' are required"};
  const int width = IntField(doc, "width", 0, 1, 16384), height = IntField(doc, "height", 0, 1, 16384);
  const std::string format = doc.value("format", std::string("xrgb32"));
  if (format != "xrgb32" && format != "rgb565")
    throw SceneError{kExitBadData, "'format' must be \"xrgb32\" or \"rgb565\""};
  const PixelFormat pf = format == "xrgb32" ? PixelFormat::kXrgb32 : PixelFormat::kRgb565;
  if (scene.compositor.Initialise({0, 0, width, height}, ColorField(doc, "backColor", ColorRef(0x00FFFFFF)), pf,
                                  nullptr) != 0)
    throw SceneError{kExitFailed, "the stage picture could not be created"};
  const json sprites = doc.value("sprites", json::array());
  if (!sprites.is_array()) throw SceneError{kExitBadData, "'sprites' must be an array"};
  for (size_t i = 0; i < sprites.size(); ++i) {
    const json& j = sprites[i];
    const std::string where = "sprite " + std::to_string(i) + ": ";
    try {
      auto sprite = std::make_unique<StageSprite>(pf);
      const std::string picture = j.value("picture", std::string());
      Rect pictureRect;
      if (!picture.empty()) {
        const std::filesystem::path path = baseDir / picture;
        std::string bytes;
        try {
          bytes = ReadInputFile(path.string());
        } catch (const ToolError& e) {
          throw SceneError{e.code(), e.what()};
        }
        const std::span<const uint8_t> view(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        imaging::Picture pic;
        const imaging::Outcome read = imaging::Decode(view, imaging::DetectType(view, path.string()), pic);
        if (!read) throw SceneError{kExitBadData, path.string() + ": " + read.detail};
        if (sprite->SetPicture(pic.pixels.View()) != 0) throw SceneError{kExitBadData, "picture cannot be attached"};
        pictureRect = {0, 0, pic.pixels.width, pic.pixels.height};
      }
      sprite->stretch = FlagField(j, "stretch", true);
      const int tolerance = IntField(j, "tolerance", 0, 0, 255);
      const int layer = IntField(j, "layer", 0, 0, 65535);
      sprite->Setup(RectField(j, "rect", pictureRect), RectField(j, "srcRect", pictureRect), uint16_t(layer),
                    FlagField(j, "keyed", false), ColorField(j, "keyColor", kDefaultKeyColor), uint8_t(tolerance),
                    0);
      sprite->Fit();
      const int state = IntField(j, "displayState", 0, 0, 7);
      sprite->displayState = uint8_t(state);
      scene.compositor.Add(*sprite, true);
      scene.sprites.push_back(std::move(sprite));
    } catch (const SceneError& e) {
      throw SceneError{e.code, where + e.message};
    } catch (const json::exception& e) {
      throw SceneError{kExitBadData, where + e.what()};
    }
  }
}

}  // namespace

int RunCompose(int argc, char** argv) {
  const ParsedArgs args = ParseArgs(kComposeSpec, argc, argv);
  RequireOperands(kComposeSpec, args, 1, 1);
  if (!args.Has("-o")) UsageError(kComposeSpec, "-o OUT.png is required");
  const std::string& scenePath = args.operands[0];
  const std::string outPath = args.Value("-o");
  std::vector<Point> hits;
  for (const std::string& text : args.Values("--hit")) {
    Point p;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%d,%d%c", &p.x, &p.y, &tail) != 2)
      UsageError(kComposeSpec, "--hit wants X,Y, not '" + text + "'");
    hits.push_back(p);
  }
  const std::string sceneText = ReadInputFile(scenePath, false);
  json doc;
  try {
    doc = json::parse(sceneText);
  } catch (const json::exception& e) {
    return Fail(kExitBadData, "%s: %s", scenePath.c_str(), e.what());
  }
  Scene scene;
  try {
    BuildScene(doc, std::filesystem::path(scenePath).parent_path(), scene);
  } catch (const SceneError& e) {
    return Fail(e.code, "%s: %s", scenePath.c_str(), e.message.c_str());
  } catch (const json::exception& e) {
    return Fail(kExitBadData, "%s: %s", scenePath.c_str(), e.what());
  }
  scene.compositor.Update({0, 0, scene.compositor.Width(), scene.compositor.Height()});
  std::string error;
  if (!scene.compositor.WriteSnapshot(outPath, &error))
    return Fail(kExitFailed, "%s: %s", outPath.c_str(), error.c_str());
  for (const Point& p : hits) {
    const StageSprite* hit = scene.compositor.HitTest(p.x, p.y);
    int index = -1;
    for (size_t i = 0; i < scene.sprites.size(); ++i)
      if (scene.sprites[i].get() == hit) index = int(i);
    std::printf("%d\n", index);
  }
  return kExitOk;
}

}  // namespace kv::tool
