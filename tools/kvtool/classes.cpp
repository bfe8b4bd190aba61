#include "tools/kvtool/classes.h"

#include <cstdio>

#include "persist/archive.h"
#include "platform/message_box.h"
#include "platform/text.h"
#include "tools/common/toolkit.h"
#ifdef KV_HAVE_INSERTS
#include "ext/register.h"
#endif

namespace kv::tool {

void RegisterAllClasses() {
  RegisterPersistClasses();
#ifdef KV_HAVE_INSERTS
  RegisterInsertClasses();
#endif
}

namespace {

class ConsoleMessages : public ScriptedMessageBox {
 public:
  MsgAnswer Show(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon icon) override {
    std::string flat = Cp1252ToUtf8(text);
    for (char& c : flat)
      if (c == '\r') c = ' ';
    Warn("%s: %s", Cp1252ToUtf8(title).c_str(), flat.c_str());
    return ScriptedMessageBox::Show(text, title, buttons, icon);
  }
};

}  // namespace

void UseConsoleMessages() {
  static ConsoleMessages box;
  SetMessageBoxes(&box);
}

}  // namespace kv::tool
