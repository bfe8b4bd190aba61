// A window kind of the tests' own: a line edit whose text goes to the string
// variable of the object's name. Registered by the tests only, with the
// project that shows two of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inserts/window_insert.h"

namespace kv {

class CTestEntry : public CWindowInsert {
  KV_DECLARE_CLASS(CTestEntry)
 public:
  std::string WidgetType() const override { return widgetType; }
  void WidgetChanged(PlayContext& ctx, const std::string& property, const std::string& value) override;
  // The widget type every entry asks for (a test may name one no factory makes).
  static inline std::string widgetType = "line edit";

 protected:
  void ConfigureWidget(PlayContext&, WidgetWindow& w) override { w.SetProperty("text", comment); }
};

// Registers the insert classes and CTestEntry.
void RegisterTestKinds();

// A 96 x 56 project: string variables G.first and G.second and Int4 G.waited;
// entry fields "first" at (4, 4, 84, 22) and "second" at (4, 28, 84, 46); a
// wait for any key; then waited is incremented, "second" is centred on the
// pointer, and 100 ms later "first" is removed from the stage and "second"
// hidden.
std::vector<uint8_t> WindowObjectsProject();

}  // namespace kv
