// The frame's system menus in a run without a window: a model of the menu
// bar above the stage and of a pop-up menu, driven by the scripted input
// (the pointer, Alt with an item's letter, F10, arrows, Return, Escape) and
// drawn over the stage where its open lists reach it, so frames show what a
// window would show there.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "inserts/painted_sprite.h"
#include "stage/frame_menus.h"

namespace kv {

class MenuLists;
class Stage;

class HeadlessMenus : public FrameMenus, public SelfPainting {
 public:
  explicit HeadlessMenus(Stage& stage);
  ~HeadlessMenus() override;
  HeadlessMenus(const HeadlessMenus&) = delete;
  HeadlessMenus& operator=(const HeadlessMenus&) = delete;

  // FrameMenus
  void ShowBar(std::vector<FrameMenuEntry> entries, std::function<void(uint16_t)> chosen) override;
  void RemoveBar() override;
  void OpenPopup(std::vector<FrameMenuEntry> entries, Point at, std::function<void(uint16_t)> ended) override;
  void CancelPopup() override;

  // Input offered before the stage, on the run's main thread: true when the
  // menus took it. The bar lies above the stage (negative y).
  enum class Input { kMove, kDown, kUp, kKeyDown, kKeyUp };
  bool Offer(Input kind, uint32_t key, uint32_t modifiers, Point at);

  // SelfPainting: the open lists over the stage; never hit (input comes first here).
  void PaintSprite(PlayContext*, StageSprite& sprite, DrawTarget& target, const Rect& clip) override;
  bool HitsAt(const StageSprite&, int, int) const override { return false; }

 private:
  // The menus' state, apart so that users need no Qt headers.
  struct State;
  // The lists input goes to: an open pop-up, else the bar while in use.
  MenuLists* Active();
  Point Origin() const;
  // Ends the menu mode; the callback to call once unlocked, for a choice.
  std::function<void()> Finish(uint16_t id);
  void Redraw(const Rect& before);
  std::function<void()> Key(uint32_t key, uint32_t modifiers);

  Stage& stage_;
  std::mutex lock_;
  std::unique_ptr<State> s_;  // guarded by lock_
  std::unique_ptr<PaintedSprite> sprite_;
};

}  // namespace kv
