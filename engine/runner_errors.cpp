// Run-time errors: the Yes/No question that reports one, and aborting the
// project when it is answered No.
#include "engine/runner.h"

#include "engine/flow.h"
#include "engine/strings.h"
#include "persist/document.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/string_table.h"

namespace kv {

// --- messages and errors

bool Runner::AskYesNo(uint32_t textId, const std::string& text, const std::string& title) {
  return services_.messages->ShowWithId(textId, text, title, MsgButtons::YesNo, MsgIcon::Question) == MsgAnswer::Yes;
}

void Runner::ShowError(uint32_t textId, const std::string& text, const std::string& title) {
  services_.messages->ShowWithId(textId, text, title, MsgButtons::Ok, MsgIcon::Exclamation);
}

bool Runner::ReportRunError(CInsert* insert, uint32_t stringId, const std::string& detail) {
  InsertPtr reported;
  if (insert) {
    reported = insert->shared_from_this();
    if (auto src = insert->source.lock()) reported = src;
    if (auto flow = std::dynamic_pointer_cast<CFlow>(reported))
      if (auto owner = flow->GetOwner()) reported = owner;
  }
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  DocPtr script = ctx ? ctx->currentScript : nullptr;
  std::string title;
  if (script && !script->pathName.empty())
    title = CStgDoc::IsStandbysFile(script->pathName) ? LoadString(sid::kProjectStandbys) : FileTitle(script->pathName);
  if (reported) {
    title += " ";
    title += reported->DescribeLocation(script ? script.get() : project_.get(), false, false);
    if (!reported->name.empty()) title += " (-> " + reported->name + ")";
  }
  // The detail follows the text after one blank; some texts end in theirs.
  std::string text = LoadString(stringId);
  if (text.empty() || text.back() != ' ') text += ' ';
  text += detail;
  variables_.SetLastError(4);
  bool yes = AskYesNo(stringId, text + LoadString(sid::kContinueYesNo), title);
  if (!yes) AbortProject();
  return yes;
}

void Runner::AbortProject(bool failure) {
  if (failure) aborted_ = true;
  if (abortCount_.fetch_add(1) != 0) {
    // Every later attempt only makes sure the project thread hears of it.
    abortRequested = true;
    WakeEveryone();
    return;
  }
  sceneChanging = true;
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  if (projectThread_) projectThread_->port.FlushRequests();
  if (!ctx || !ctx->isProjectThread) {
    abortRequested = true;
    if (projectThread_) projectThread_->port.PostKey(stopKey);
    WakeEveryone();
    return;
  }
  abortRequested = true;
  if (ctx->currentScript) StopScriptInserts(ctx->currentScript);
  for (auto& t : ScriptThreads()) StopThread(*t);
  for (auto& t : ScriptThreads()) JoinThread(*t, 2000);
  shuttingDown = true;
  WakeEveryone();
}

}  // namespace kv
