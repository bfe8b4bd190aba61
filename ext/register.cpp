#include "ext/register.h"

#include "ext/basic_insert.h"
#include "ext/dll_insert.h"
#include "inserts/avi.h"
#include "inserts/button.h"
#include "inserts/data_entry.h"
#include "inserts/display.h"
#include "inserts/ellipse.h"
#include "inserts/graphic.h"
#include "inserts/hotspot.h"
#include "inserts/kvfont.h"
#include "inserts/menu.h"
#include "inserts/mplayer.h"
#include "inserts/object_fill.h"
#include "inserts/ole_control.h"
#include "inserts/poly.h"
#include "inserts/rectangle.h"
#include "inserts/register.h"
#include "inserts/rtf.h"
#include "inserts/sprite.h"
#include "inserts/stage_cursor.h"
#include "inserts/text.h"
#include "inserts/three_d.h"
#include "inserts/triangle.h"
#include "media/audio.h"
#include "media/mci.h"

namespace kv {

void RegisterInsertClasses() {
  RegisterVisualClasses();  // the engine classes and the visible base
  // Visual kinds and the records they embed.
  C3d::StaticClass();
  CAVI::StaticClass();
  CCollectData::StaticClass();
  CDataEntry::StaticClass();
  CDisplay::StaticClass();
  CEllipse::StaticClass();
  CGraphic::StaticClass();
  CHotSpot::StaticClass();
  CKVFont::StaticClass();
  CMenuDefinition::StaticClass();
  CMenuItem::StaticClass();
  CMenuObj::StaticClass();
  CMPlayer::StaticClass();
  CObjectFill::StaticClass();
  COleCtl::StaticClass();
  CPoly::StaticClass();
  CRectangle::StaticClass();
  CRTF::StaticClass();
  CSDButton::StaticClass();
  CSprite::StaticClass();
  CStageCursor::StaticClass();
  CSubMenu::StaticClass();
  CText::StaticClass();
  CTriangle::StaticClass();
  // Media kinds.
  CAudio::StaticClass();
  CDiscAudio::StaticClass();
  CFileAudio::StaticClass();
  CMCI::StaticClass();
  // Extension kinds.
  CBasic::StaticClass();
  ScDLL::StaticClass();
}

}  // namespace kv
