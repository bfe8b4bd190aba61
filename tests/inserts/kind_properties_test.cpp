// Which kinds answer which scriptable property, as the builtins define it
// (a kind without the property answers the not-available value), checked for
// every registered insert class; and the colours that share one stored field.
#include <gtest/gtest.h>

#include <string>

#include "engine/insert.h"
#include "ext/register.h"
#include "tests/engine/bare_run.h"

namespace kv {
namespace {

bool DerivesFrom(const ClassInfo& info, const char* base) {
  const ClassInfo* b = ClassRegistry::Find(base);
  return b && info.IsDerivedFrom(*b);
}

struct Keeper {
  Property id;
  const char* name;
  // The bases whose kinds keep the property.
  std::vector<const char*> bases;
};

const Keeper kKeepers[] = {
    {Property::kForegroundColor, "foreground", {"CObjectFill"}},
    {Property::kShadowColor, "shadow", {"CGraphic", "CSDButton"}},
    {Property::kBackgroundColor, "background", {"CObjectFill", "CRTF", "CDataEntry", "C3d"}},
    {Property::kLineColor, "line", {"CGraphic"}},
    {Property::kHighlightColor, "highlight", {"CSDButton"}},
    {Property::kTextColor, "text", {"CText", "CObjectFill", "CSDButton", "CDataEntry"}},
    {Property::kTextShadowColor, "text shadow", {"CGraphic", "CSDButton"}},
    {Property::kFaceColor, "face", {"CSDButton"}},
    {Property::kTransparentColor, "transparent", {"CVisibleInsert"}},
    {Property::kTextFontSize, "font size", {"CText", "CDataEntry"}},
    {Property::kStartTime, "start", {"CAudio", "CAVI", "CMPlayer"}},
    {Property::kEndTime, "end", {"CAudio", "CAVI", "CMPlayer"}},
    {Property::kVolume, "volume", {"CAudio"}},
    {Property::kPan, "pan", {"CAudio"}},
    {Property::kFrequency, "frequency", {"CAudio"}},
    {Property::kPressedPicture, "pressed picture", {"CSDButton"}},
};

TEST(KindProperties, EachKindAnswersExactlyThePropertiesItKeeps) {
  RegisterInsertClasses();
  int kinds = 0;
  for (const ClassInfo* info : ClassRegistry::All()) {
    if (!info->IsDerivedFrom(CInsert::StaticClass())) continue;
    ++kinds;
    auto insert = std::dynamic_pointer_cast<CInsert>(info->factory());
    ASSERT_TRUE(insert) << info->name;
    for (const Keeper& k : kKeepers) {
      bool keeps = false;
      for (const char* base : k.bases) keeps = keeps || DerivesFrom(*info, base);
      EXPECT_EQ(insert->GetProperty(k.id).has_value(), keeps) << info->name << " " << k.name;
    }
  }
  EXPECT_GE(kinds, 38);
}

// Set through one id, read through every id of the kind: the aliases share
// their field, the others stay apart.
struct Alias {
  const char* className;
  Property set;
  Property alsoReads;  // the property that must read the new colour too
};

const Alias kAliases[] = {
    {"CText", Property::kTextShadowColor, Property::kShadowColor},
    {"CRectangle", Property::kTextColor, Property::kForegroundColor},
    {"CEllipse", Property::kShadowColor, Property::kTextShadowColor},
};

TEST(KindProperties, ColoursSharingAFieldReadBackTogether) {
  RegisterInsertClasses();
  test::BareRun run;
  const ColorRef marker = ColorRef::FromRgb(0x12, 0x34, 0x56);
  for (const Alias& a : kAliases) {
    SCOPED_TRACE(a.className);
    auto insert = std::dynamic_pointer_cast<CInsert>(ClassRegistry::Find(a.className)->factory());
    insert->Reset();
    ASSERT_TRUE(insert->SetProperty(run.ctx(), a.set, marker));
    for (const Keeper& k : kKeepers) {
      const PropertyAnswer answer = insert->GetProperty(k.id);
      const ColorRef* color = AnswerAs<ColorRef>(answer);
      if (!color) continue;
      EXPECT_EQ(*color == marker, k.id == a.set || k.id == a.alsoReads) << k.name;
    }
  }
}

TEST(KindProperties, AValueOfAnotherTypeOrAPropertyNotKeptIsRefused) {
  RegisterInsertClasses();
  auto button = std::dynamic_pointer_cast<CInsert>(ClassRegistry::Find("CSDButton")->factory());
  button->Reset();
  test::BareRun run;
  const PropertyAnswer before = button->GetProperty(Property::kFaceColor);
  EXPECT_FALSE(button->SetProperty(run.ctx(), Property::kFaceColor, 5.0));
  EXPECT_FALSE(button->SetProperty(run.ctx(), Property::kFaceColor, std::string("red")));
  EXPECT_EQ(button->GetProperty(Property::kFaceColor), before);
  EXPECT_FALSE(button->SetProperty(run.ctx(), Property::kVolume, 50.0));
  EXPECT_TRUE(button->SetProperty(run.ctx(), Property::kFaceColor, ColorRef(0x00FF00)));
  EXPECT_EQ(button->GetProperty(Property::kFaceColor), PropertyAnswer(ColorRef(0x00FF00)));
}

}  // namespace
}  // namespace kv
