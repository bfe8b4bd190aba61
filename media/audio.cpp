#include "media/audio.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CAudio, CInsert, kVersionable | 0)
KV_IMPLEMENT_CLASS(CFileAudio, CAudio, kVersionable | 0)
KV_IMPLEMENT_CLASS(CDiscAudio, CAudio, kVersionable | 0)

void CAudio::Reset() {
  CInsert::Reset();
  FieldTransfer::Reset(*this);
  showMode = show_mode::kShowAndPlayWhenReady;
}

void CAudio::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CAudio>(other));
}

// The sound's version word comes before the common record.
template <class W>
void CAudio::Walk(W& w) {
  const uint16_t v = w.Version("audioVersion", audioVersion, kNewestVersion, 1, "CAudio");
  w.Base(static_cast<CInsert&>(*this));  // loading resets every field first
  if (v >= 2) {
    w("frequency", frequency);
    w("volume", volume);
    w("pan", pan);
    w("channelMode", channelMode);
    w("channel", channel);
    w("displayFlags", displayFlags);
    w("displayKind", displayKind);
    // The display block has no stored length and no known layout: reading on
    // would take its bytes for the fields after it.
    if constexpr (W::kArchive)
      if (displayKind == kAudioHasDisplayBlock)
        w.ar.Fail(CArchiveException::badSchema, "CAudio displayData: a display block of unknown size");
  }
  w("ownThread", ownThread);
  w("playCount", playCount);
  w("loop", loop);
  w("startMs", startMs);
  w("endMs", endMs);
  w("fileName", fileName);
  w("audioByte", audioByte);
}

KV_FIELD_WALK_IO(CAudio)

}  // namespace kv
