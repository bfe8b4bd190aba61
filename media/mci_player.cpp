#include "media/mci_player.h"

#include "engine/runner.h"
#include "media/media_context.h"
#include "media/mci_command.h"
#include "media/mci_errors.h"

namespace kv {

namespace {
constexpr int kSlotWave = 0;
constexpr int kSlotSequencer = 1;
constexpr int kSlotCd = 2;
}  // namespace

std::string FallbackMciAlias(long number) { return "SSWaVeAliaS" + std::to_string(number); }

struct MciPlayer::Shared {
  Clock* clock = nullptr;
  std::weak_ptr<ScriptThreadContext> thread;
  std::atomic<bool> playing{false};
  std::atomic<bool> stopRequested{false};
  std::atomic<uint32_t> notified{0};

  void Wake() {
    if (auto t = thread.lock()) clock->Wake(t->port.waiter());
  }
};

MciPlayer::MciPlayer(Runner& runner, MediaContext& media, std::string name, bool showErrors)
    : runner_(runner),
      media_(media),
      name_(std::move(name)),
      showErrors_(showErrors),
      id_(static_cast<uint64_t>(media.NextAliasNumber())),
      shared_(std::make_shared<Shared>()) {
  shared_->clock = &runner.clock();
  if (ScriptThreadContext* ctx = ScriptThreadContext::Current()) shared_->thread = ctx->self;
}

MciPlayer::~MciPlayer() { Close(); }

bool MciPlayer::IsPlaying() const { return shared_->playing; }

uint32_t MciPlayer::Send(const std::string& command, std::string* ret, bool notify) {
  std::string out;
  media_.Sync();
  MciNotifyFn fn;
  if (notify) {
    std::weak_ptr<Shared> weak = shared_;
    // Comes from the renderer: record and wake, the player's thread acts.
    fn = [weak](uint32_t, uint32_t code) {
      if (auto s = weak.lock()) {
        s->notified = code;
        s->Wake();
      }
    };
  }
  const uint32_t result = media_.mci().SendString(command, &out, std::move(fn));
  media_.Changed();
  if (ret) *ret = out;
  return result;
}

void MciPlayer::ShowError(uint32_t code, const char* operation) {
  // The outputs-in-use error is never shown.
  if (!showErrors_ || code == 0 || code == mci_err::kWaveOutputsInUse) return;
  runner_.ShowError(0, MciErrorText(code), operation);
}

uint32_t MciPlayer::OpenWave(const std::string& storedName) {
  Close();
  const auto file = media_.Resolve(storedName);
  if (!file) {
    ShowError(mci_err::kFileNotFound, "Open");
    return mci_err::kFileNotFound;
  }
  alias_ = name_.empty() ? FallbackMciAlias(media_.NextAliasNumber()) : name_;
  const std::string element = QuoteMciArgument(file->string());
  uint32_t r = 0;
  for (int tries = 0; tries < 1000; ++tries) {
    r = Send("open " + element + " alias " + QuoteMciArgument(alias_) + " wait");
    if (r != mci_err::kDuplicateAlias) break;
    alias_ = FallbackMciAlias(media_.NextAliasNumber());
  }
  if (r == 0) {
    open_ = true;
    std::string mode;
    r = Send("status " + QuoteMciArgument(alias_) + " mode", &mode);
    if (r == 0) r = Send("set " + QuoteMciArgument(alias_) + " time format milliseconds");
    if (r != 0) Close();
  }
  ShowError(r, "Open");
  return r;
}

uint32_t MciPlayer::OpenCd(uint32_t& tracks) {
  Close();
  alias_ = name_.empty() ? FallbackMciAlias(media_.NextAliasNumber()) : name_;
  uint32_t r = 0;
  for (int tries = 0; tries < 1000; ++tries) {
    r = Send("open cdaudio shareable alias " + QuoteMciArgument(alias_) + " wait");
    if (r != mci_err::kDuplicateAlias) break;
    alias_ = FallbackMciAlias(media_.NextAliasNumber());
  }
  if (r == 0) {
    open_ = true;
    const std::string a = QuoteMciArgument(alias_);
    std::string count;
    r = Send("stop " + a + " wait");
    if (r == 0) r = Send("status " + a + " number of tracks", &count);
    if (r == 0) r = Send("set " + a + " time format tmsf");
    tracks = r == 0 ? static_cast<uint32_t>(std::strtoul(count.c_str(), nullptr, 10)) : 0;
    if (r != 0) Close();
  }
  ShowError(r, "Open");
  return r;
}

int MciPlayer::SlotKind() {
  std::string type;
  Send("capability " + QuoteMciArgument(alias_) + " device type", &type);
  if (type == "cdaudio") return kSlotCd;
  if (type == "sequencer") return kSlotSequencer;
  return kSlotWave;
}

void MciPlayer::ReleaseSlot() {
  if (!holdsSlot_) return;
  holdsSlot_ = false;
  media_.slots().Release(slotKind_, id_);
  // A player waiting for the slot looks again before the clock can move on.
  runner_.clock().WakeAll();
}

std::string MciPlayer::PlayCommand() const {
  std::string command = "play " + QuoteMciArgument(alias_);
  if (!from_.empty()) command += " from " + from_;
  if (!to_.empty()) command += " to " + to_;
  return command + " notify";
}

uint32_t MciPlayer::Play(const std::string& from, const std::string& to, uint32_t repetitions) {
  if (!open_) return mci_err::kInvalidDeviceName;
  from_ = from;
  to_ = to;
  repetitionsLeft_ = std::max<uint32_t>(1, repetitions);
  // One current player per device kind: the holder is stopped first.
  slotKind_ = SlotKind();
  DeviceSlots::Holder holder;
  holder.player = id_;
  holder.thread = std::this_thread::get_id();
  std::weak_ptr<Shared> weak = shared_;
  holder.requestStop = [weak] {
    if (auto s = weak.lock()) {
      s->stopRequested = true;
      s->Wake();
    }
  };
  holder.stopNow = [this] { Stop(); };
  const std::optional<uint64_t> before = media_.slots().Current(slotKind_);
  media_.slots().Take(slotKind_, std::move(holder), [this, before](int ms) {
    ScriptThreadContext* ctx = ScriptThreadContext::Current();
    if (!ctx) return;
    // Ends as soon as the holder lets go, so the hand-over takes no time of its own.
    runner_.clock().Wait(ctx->port.waiter(), runner_.Now() + ms,
                         [this, before] { return media_.slots().Current(slotKind_) != before; });
  });
  holdsSlot_ = true;
  shared_->stopRequested = false;
  shared_->notified = 0;
  const uint32_t r = Send(PlayCommand(), nullptr, true);
  if (r != 0) {
    ShowError(r, "PlayRepetition");
    Close();
    return r;
  }
  shared_->playing = true;
  return 0;
}

bool MciPlayer::WaitWhilePlaying(const std::function<bool()>& serve) {
  while (shared_->playing) {
    const uint32_t code = shared_->notified.exchange(0);
    if (code == mci_notify::kSuccessful || code == mci_notify::kSuperseded) {
      if (--repetitionsLeft_ > 0) {
        if (Send(PlayCommand(), nullptr, true) == 0) continue;
      }
      shared_->playing = false;
      ReleaseSlot();
      return true;
    }
    if (code != 0 && code != mci_notify::kAborted) {
      Stop();
      return true;
    }
    if (shared_->stopRequested || runner_.IsStopRequested() || runner_.sceneChanging || (serve && serve())) {
      Stop();
      return false;
    }
    Message m = runner_.PumpMessage(false, kForever);
    if (m.IsKeyDown() && m.key == runner_.stopKey) {
      Stop();
      return false;
    }
  }
  return true;
}

void MciPlayer::RequestStop() {
  shared_->stopRequested = true;
  shared_->Wake();
}

void MciPlayer::Pause() {
  if (open_) ShowError(Send("pause " + QuoteMciArgument(alias_)), "MCI_PAUSE");
}

void MciPlayer::Resume() {
  if (!open_) return;
  // A device that refuses to resume is played instead.
  if (Send("resume " + QuoteMciArgument(alias_)) != 0)
    ShowError(Send("play " + QuoteMciArgument(alias_) + " notify", nullptr, true), "MCI_RESUME");
}

void MciPlayer::Stop() {
  shared_->playing = false;
  if (open_) ShowError(Send("stop " + QuoteMciArgument(alias_) + " wait"), "MCI_STOP");
  ReleaseSlot();
}

void MciPlayer::Close() {
  if (!open_) return;
  shared_->playing = false;
  ReleaseSlot();
  const uint32_t r = Send("close " + QuoteMciArgument(alias_) + " wait");
  open_ = false;
  ShowError(r, "MCI_CLOSE");
}

bool DeviceCanPlay(MciSystem& mci, const std::string& device) {
  if (mci.SendString("open " + device) != 0) return false;
  std::string answer;
  const bool can = mci.SendString("capability " + device + " can play", &answer) == 0 && LowerAscii(answer) == "true";
  mci.SendString("close " + device);
  return can;
}

bool CanPlayMedia(MciSystem& mci, const std::string& path) { return DeviceCanPlay(mci, QuoteMciArgument(path)); }

}  // namespace kv
