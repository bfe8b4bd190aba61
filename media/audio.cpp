#include "media/audio.h"

#include "inserts/kind_fields.h"
#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CAudio, CInsert, kVersionable | 0)
KV_IMPLEMENT_CLASS(CFileAudio, CAudio, kVersionable | 0)
KV_IMPLEMENT_CLASS(CDiscAudio, CAudio, kVersionable | 0)

void CAudio::Reset() {
  CInsert::Reset();
  ResetKindFields<AudioFields>(*this);
  showMode = show_mode::kShowAndPlayWhenReady;
}

void CAudio::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  CopyKindFields<AudioFields>(*this, other);
}

// The sound's version word comes before the common record.
void CAudio::Serialize(Archive& ar) {
  uint16_t v = ar.Version(kNewestVersion, 1, "CAudio");
  CInsert::Serialize(ar);  // loading resets every field first
  if (ar.IsLoading()) audioVersion = v;
  if (v >= 2) {
    ar.Io(frequency);
    ar.Io(volume);
    ar.Io(pan);
    ar.Io(channelMode);
    ar.Io(channel);
    ar.Io(displayFlags);
    ar.Io(displayKind);
    // The display block has no stored length and no known layout: reading on
    // would take its bytes for the fields after it.
    if (displayKind == kAudioHasDisplayBlock)
      ar.Fail(CArchiveException::badSchema, "CAudio displayData: a display block of unknown size");
  }
  ar.Io(ownThread);
  ar.Io(playCount);
  ar.Io(loop);
  ar.Io(startMs);
  ar.Io(endMs);
  ar.Io(fileName);
  ar.Io(audioByte);
}

void CAudio::DescribeFields(FieldVisitor& v) {
  v.Field("audioVersion", audioVersion);
  CInsert::DescribeFields(v);
  v.Field("frequency", frequency);
  v.Field("volume", volume);
  v.Field("pan", pan);
  v.Field("channelMode", channelMode);
  v.Field("channel", channel);
  v.Field("displayFlags", displayFlags);
  v.Field("displayKind", displayKind);
  v.Field("ownThread", ownThread);
  v.Field("playCount", playCount);
  v.Field("loop", loop);
  v.Field("startMs", startMs);
  v.Field("endMs", endMs);
  v.Field("fileName", fileName);
  v.Field("audioByte", audioByte);
}

}  // namespace kv
