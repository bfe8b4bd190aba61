// CWindowInsert: the base of kinds shown by a native widget (entry fields,
// rich text, controls). The widget is made through the stage's
// ChildWindowFactory when the object comes on the stage and destroyed when it
// leaves; the base keeps the keyboard focus and passes the widget's events on.
// A kind names its widget type, sets the new widget up and answers changes.
// The widget's listener is the sprite's, which knows the stage the widget was
// made for and so hands the kind that stage's run.
#pragma once

#include <memory>
#include <string>

#include "inserts/visible_insert.h"
#include "stage/widget_window.h"

namespace kv {

class CWindowInsert : public CVisibleInsert {
 public:
  // The widget type the kind is shown by ("line edit", ...).
  virtual std::string WidgetType() const = 0;

  // Off the stage: the focus goes back to the stage, the widget is destroyed.
  void Hide(PlayContext& ctx) override;
  // The widget, should it outlive the stage, tells the object nothing more.
  void StageGone() override;
  // A press on the object gives it the keyboard focus first.
  void HandleStageEventAt(PlayContext& ctx, uint32_t eventCode, Point at) override;

  // The widget while the object is on the stage, else null.
  WidgetWindow* Widget();
  // Moves the keyboard focus here, on the stage of the run.
  void TakeFocus(Stage& stage);
  // The stage moved the focus here (true) or away (false).
  virtual void FocusChanged(PlayContext& ctx, bool focused);

  // Keys (virtual key codes) that move the focus on from this object: Tab.
  virtual bool MovesFocusOn(uint32_t key) const { return key == 0x09; }
  // Such a key moved the focus away from this object.
  virtual void FocusLeftByKey(PlayContext& /*ctx*/) {}

  // What the widget tells the object (on the GUI thread; see WidgetListener):
  // a click in it moves the stage's focus here; a property changed by input.
  void WidgetFocused(PlayContext& ctx);
  virtual void WidgetChanged(PlayContext& /*ctx*/, const std::string& /*property*/, const std::string& /*value*/) {}
  // Whether the widget may read a local file's address (see WidgetListener).
  virtual bool MayReadAddress(PlayContext& /*ctx*/, const std::string& /*address*/) { return true; }

 protected:
  // Makes the window sprite with its widget; raises when the player has no
  // factory or the factory cannot make the widget type.
  std::unique_ptr<StageSprite> MakeSprite(Stage& stage) override;
  // Whether there is a widget to make at all; a kind that answers false has
  // reported why (or has nothing to show), and the object stays without sprite.
  virtual bool MayMakeWidget(PlayContext& /*ctx*/) { return true; }
  // Sets up a new widget before it is shown; kinds set their properties.
  virtual void ConfigureWidget(PlayContext& /*ctx*/, WidgetWindow& /*widget*/) {}
};

}  // namespace kv
