#include "engine/jump.h"

#include "persist/field_walk.h"
#include "persist/fields.h"
#include "engine/runner.h"
#include "engine/strings.h"
#include "engine/label.h"
#include "platform/text.h"
#include "persist/document.h"

namespace kv {

KV_IMPLEMENT_CLASS(CJump, CInsert, 0)

void CJump::Reset() {
  CInsert::Reset();
  // The step counts keep their values: a reset jump remembers how far it goes.
  const uint16_t back = backCount;
  const uint16_t forward = forwardCount;
  FieldTransfer::Reset(*this);
  backCount = back;
  forwardCount = forward;
}

template <class W>
void CJump::Walk(W& w) {
  w.Base(static_cast<CInsert&>(*this));
  const uint16_t version = w.Version("jumpVersion", jumpVersion, 3, 1, "CJump");
  if (version >= 3) {
    w("counted", counted);
    w("passCounter", passCounter);
  }
  if (version >= 2) {
    w("backCount", backCount);
    w("forwardCount", forwardCount);
  }
  w("jumpType", jumpType);
  w("labelName", labelName);
}

KV_FIELD_WALK_IO(CJump)

void CJump::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CJump>(other));
}

// --- behaviour

int CJump::Run(Runner& runner, int32_t mode) {
  runMode = mode;
  if (runner.IsStopRequested()) return 1;
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  if (!ctx || !ctx->currentScript) return 0;
  if (counted) {
    // A counted jump with a counter of n is taken n - 1 times.
    if (passCounter < 2) return 1;
    --passCounter;
  }
  const auto& items = ctx->currentScript->items;
  const int64_t count = static_cast<int64_t>(items.size());
  if (count == 0) return 0;
  // The position of this jump: the one before the next, or the last.
  int64_t self = (ctx->nextPosition == kNoPosition ? count : ctx->nextPosition) - 1;
  switch (jumpType) {
    case jump_type::kToEnd:
      ctx->nextPosition = count - 1;
      return 1;
    case jump_type::kToTop:
      ctx->nextPosition = 0;
      return 1;
    case jump_type::kToLabel: {
      // A loop jumps to the same label again and again: look where it was.
      if (labelScript_ == ctx->currentScript.get() && labelIndex_ >= 0 && labelIndex_ < count) {
        auto* label = As<CLabel>(items[labelIndex_].get());
        if (label && EqualsNoCase(label->labelName, labelName)) {
          ctx->nextPosition = labelIndex_ + 1 < count ? labelIndex_ + 1 : kNoPosition;
          return 1;
        }
      }
      for (int64_t i = 0; i < count; ++i) {
        auto* label = As<CLabel>(items[i].get());
        if (label && EqualsNoCase(label->labelName, labelName)) {
          labelScript_ = ctx->currentScript.get();
          labelIndex_ = i;
          ctx->nextPosition = i + 1 < count ? i + 1 : kNoPosition;
          return 1;
        }
      }
      runner.ReportRunError(this, sid::kNoSuchLabel, labelName);
      return 0;
    }
    case jump_type::kBack: {
      if (ctx->nextPosition == 0) return 1;
      int64_t target = self;
      for (int n = 0; n < backCount && target > 0; ++n) --target;
      ctx->nextPosition = target;
      return 1;
    }
    case jump_type::kForward: {
      const int64_t last = count - 1;
      if (forwardCount <= 1 || ctx->nextPosition == kNoPosition || ctx->nextPosition == last) return 1;
      int64_t pos = ctx->nextPosition;
      for (int n = 0; n < forwardCount - 1 && pos < last; ++n) ++pos;
      // Reaching the last insert steps past it: the script ends.
      ctx->nextPosition = pos == last ? kNoPosition : pos;
      return 1;
    }
    default:
      return 0;
  }
}

}  // namespace kv
