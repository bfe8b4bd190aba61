// The deterministic software renderer of 3D models: z-buffer, Gouraud
// shading under an ambient, a point and a directional light, back-face
// handling, a wireframe mode, perspective and orthographic cameras fitted to
// the model. The same model and view always give the same pixels. Used by
// the 3D kind; the light placement is in docs/threed.md.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "threed/model.h"

namespace kv::threed {

enum class Backfacing : uint8_t {
  kBoth,    // drawn as they are, lit from their front side
  kRemove,  // not drawn
  kFlip,    // drawn lit as if they faced the camera
};

struct View {
  int width = 0;
  int height = 0;
  uint32_t clearColor = 0x00FFFFFF;  // 0x00BBGGRR
  bool wireframe = false;
  bool orthographic = false;
  // Added to the perspective camera's fitted distance (model units).
  float distanceOffset = 0;
  // Rotation about X, then Y, then Z, in degrees.
  std::array<float, 3> orientation{0, 0, 0};
  Backfacing backfacing = Backfacing::kFlip;
};

// A model made ready for drawing: its bounding box's centre and the radius
// of the sphere around that box, about which it turns and is framed.
struct Scene {
  Model model;
  Vec3 centre;
  float radius = 0;
};

Scene MakeScene(Model model);

// `pixels`: view.width x view.height words 0x00RRGGBB (a 32-bit DIB's
// layout), top row first. A view of no size draws nothing.
void Render(const Scene& scene, const View& view, std::span<uint32_t> pixels);

// The camera's distance from the model's centre: the sphere around the
// bounding box, grown by 8/7, just fills the view from 7 radii away.
inline constexpr float kFitDistance = 7.0f;

}  // namespace kv::threed
