// The print stage: the objects of a stage drawn again, by copies of their
// inserts, into a second compositor at the size the printer needs, so that
// text, shapes and buttons are drawn at printer scale rather than enlarged
// from the screen's pixels.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/geometry.h"
#include "stage/pixel_buffer.h"

namespace kv {

class CInsert;
class CVisibleInsert;
class Compositor;
class Stage;

// Whether the kind ever appears on paper: movies, controls, rich text and
// other objects shown by a native widget do not.
bool PrintsOnPaper(const CInsert& insert);

// A second compositor at printer scale. Create it, render the objects of
// the stage into it, take its picture; the copies drawn go with it.
class PrintStage {
 public:
  explicit PrintStage(Stage& stage);
  ~PrintStage();
  PrintStage(const PrintStage&) = delete;
  PrintStage& operator=(const PrintStage&) = delete;

  // A print stage of width x height pixels over `background`, in the
  // stage's pixel format; false when it cannot be made.
  bool Create(int width, int height, ColorRef background);
  // Draws the objects showing in `source` (stage pixels), or `single` alone
  // at (0, 0) with the source's size, scaled to the print stage. An object
  // that fails to draw is left out.
  // `cancelled`, when given, is asked before each object: a Cancel pressed
  // meanwhile leaves the rest off the paper.
  void Render(const Rect& source, const std::shared_ptr<CInsert>& single,
              const std::function<bool()>& cancelled = {});
  // The composed print stage.
  PixelBuffer Picture();

 private:
  Stage& stage_;
  std::unique_ptr<Compositor> print_;
  // Declared after the compositor: the copies' sprites leave it first.
  std::vector<std::shared_ptr<CVisibleInsert>> copies_;
};

}  // namespace kv
