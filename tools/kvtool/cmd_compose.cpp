// kvtool compose: builds a compositor from a JSON scene, composes the whole
// stage once and writes it as PNG; --hit asks the hit test at given points.
// The compositor's scriptable front for tests and bug reports.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
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

constexpr const char* kName = "compose";

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

Rect RectField(const json& j, const char* field, const Rect& fallback) {
  if (!j.contains(field)) return fallback;
  const json& v = j.at(field);
  if (!v.is_array() || v.size() != 4)
    throw SceneError{kExitBadData, std::string("'") + field + "' must be [left, top, right, bottom]"};
  return {v[0].get<int>(), v[1].get<int>(), v[2].get<int>(), v[3].get<int>()};
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
  const int width = doc.value("width", 0), height = doc.value("height", 0);
  if (width <= 0 || height <= 0 || width > 16384 || height > 16384)
    throw SceneError{kExitBadData, "'width' and 'height' must be between 1 and 16384"};
  const std::string format = doc.value("format", std::string("xrgb32"));
  if (format != "xrgb32" && format != "rgb565")
    throw SceneError{kExitBadData, "'format' must be \"xrgb32\" or \"rgb565\""};
  const PixelFormat pf = format == "xrgb32" ? PixelFormat::kXrgb32 : PixelFormat::kRgb565;
  SetDisplayFormat(pf);
  if (scene.compositor.Initialise({0, 0, width, height}, ColorField(doc, "backColor", ColorRef(0x00FFFFFF)), pf,
                                  nullptr) != 0)
    throw SceneError{kExitFailed, "the stage picture could not be created"};
  const json sprites = doc.value("sprites", json::array());
  if (!sprites.is_array()) throw SceneError{kExitBadData, "'sprites' must be an array"};
  for (size_t i = 0; i < sprites.size(); ++i) {
    const json& j = sprites[i];
    const std::string where = "sprite " + std::to_string(i) + ": ";
    try {
      auto sprite = std::make_unique<StageSprite>();
      const std::string picture = j.value("picture", std::string());
      Rect pictureRect;
      if (!picture.empty()) {
        const std::filesystem::path path = baseDir / picture;
        if (!std::filesystem::exists(path)) throw SceneError{kExitNotFound, "no picture file " + path.string()};
        imaging::Picture pic;
        const imaging::Outcome read = imaging::DecodeFile(path.string(), pic);
        if (!read) throw SceneError{kExitBadData, path.string() + ": " + read.detail};
        if (sprite->SetPicture(pic.pixels.View()) != 0) throw SceneError{kExitBadData, "picture cannot be attached"};
        pictureRect = {0, 0, pic.pixels.width, pic.pixels.height};
      }
      sprite->stretch = FlagField(j, "stretch", true);
      const int tolerance = j.value("tolerance", 0);
      if (tolerance < 0 || tolerance > 255) throw SceneError{kExitBadData, "'tolerance' must be 0 to 255"};
      const int layer = j.value("layer", 0);
      if (layer < 0 || layer > 65535) throw SceneError{kExitBadData, "'layer' must be 0 to 65535"};
      sprite->Setup(RectField(j, "rect", pictureRect), RectField(j, "srcRect", pictureRect), uint16_t(layer),
                    FlagField(j, "keyed", false), ColorField(j, "keyColor", kDefaultKeyColor), uint8_t(tolerance),
                    0);
      sprite->Fit();
      const int state = j.value("displayState", 0);
      if (state < 0 || state > 7) throw SceneError{kExitBadData, "'displayState' must be 0 to 7"};
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
  std::string scenePath, outPath;
  std::vector<Point> hits;
  for (int i = 0; i < argc; ++i) {
    const char* a = argv[i];
    if (!std::strcmp(a, "-o") && i + 1 < argc) {
      outPath = argv[++i];
    } else if (!std::strcmp(a, "--hit") && i + 1 < argc) {
      Point p;
      char tail = 0;
      if (std::sscanf(argv[++i], "%d,%d%c", &p.x, &p.y, &tail) != 2)
        return Fail(kName, kExitUsage, "--hit wants X,Y, not '%s'", argv[i]);
      hits.push_back(p);
    } else if (a[0] == '-' || !scenePath.empty()) {
      return Fail(kName, kExitUsage, "usage: kvtool compose SCENE.json -o OUT.png [--hit X,Y ...]");
    } else {
      scenePath = a;
    }
  }
  if (scenePath.empty() || outPath.empty())
    return Fail(kName, kExitUsage, "usage: kvtool compose SCENE.json -o OUT.png [--hit X,Y ...]");
  std::ifstream in(scenePath);
  if (!in) return Fail(kName, kExitNotFound, "cannot read %s", scenePath.c_str());
  json doc;
  try {
    doc = json::parse(in);
  } catch (const json::exception& e) {
    return Fail(kName, kExitBadData, "%s: %s", scenePath.c_str(), e.what());
  }
  Scene scene;
  try {
    BuildScene(doc, std::filesystem::path(scenePath).parent_path(), scene);
  } catch (const SceneError& e) {
    return Fail(kName, e.code, "%s: %s", scenePath.c_str(), e.message.c_str());
  } catch (const json::exception& e) {
    return Fail(kName, kExitBadData, "%s: %s", scenePath.c_str(), e.what());
  }
  scene.compositor.Update({0, 0, scene.compositor.Width(), scene.compositor.Height()});
  std::string error;
  if (!scene.compositor.WriteSnapshot(outPath, &error))
    return Fail(kName, kExitFailed, "%s: %s", outPath.c_str(), error.c_str());
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
