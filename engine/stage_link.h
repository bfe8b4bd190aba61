// What the engine asks of the stage of its run. The stage lives above the
// engine (it knows the visible inserts); the runner holds it through this.
#pragma once

namespace kv {

class CInsert;

class StageLink {
 public:
  virtual ~StageLink() = default;
  // The project thread's scene has finished loading: reveal what was deferred
  // and run the scene-ready work.
  virtual void SceneReady() = 0;
  // The exit key or a close asked the player to stop.
  virtual bool QuitRequested() const = 0;
  // Takes every object off the stage and empties the compositor's lists.
  virtual void ClearStage() = 0;
  // Centres the insert's sprite on the pointer.
  virtual void MoveToCursor(CInsert& insert) = 0;
  // The insert's sprite follows the pointer while the left button is down.
  virtual void StartDrag(CInsert& insert) = 0;
  // The stage window's frame follows the pointer until the left button goes up.
  virtual void StartFrameDrag() = 0;
  // Drags the insert's content (its file, else its text) out of the stage;
  // false when it has none.
  virtual bool StartContentDrag(CInsert& insert) = 0;
  // Applies picture operation `type` to the insert's sprite picture, limited
  // to the rectangle (picture pixels, right and bottom inclusive, left -1:
  // all) where the operation allows; false without a picture or for an
  // unknown type (which is reported).
  virtual bool ProcessPicture(CInsert& insert, int type, int value, int value2, int left, int top, int right,
                              int bottom) = 0;
};

}  // namespace kv
