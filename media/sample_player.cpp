#include "media/sample_player.h"

#include <filesystem>

#include "media/mci_command.h"
#include "media/mci_devices.h"
#include "media/mci_errors.h"

namespace kv {

SamplePlayer::SamplePlayer(MciSystem& mci, std::string defaultExtension, std::function<void(bool)> playing)
    : mci_(mci), defaultExtension_(std::move(defaultExtension)) {
  listener_->playing = std::move(playing);
}

SamplePlayer::~SamplePlayer() {
  {
    std::lock_guard lock(listener_->lock);
    listener_->playing = nullptr;
  }
  if (open_) mci_.SendString(std::string("close ") + kAlias);
}

void SamplePlayer::Tell(bool playing) const {
  std::lock_guard lock(listener_->lock);
  if (listener_->playing) listener_->playing(playing);
}

uint32_t SamplePlayer::PlaySample(const std::string& file) {
  StopSample();
  std::filesystem::path path(file);
  if (!path.has_extension()) path += defaultExtension_;
  std::error_code ec;
  if (path.is_relative()) path = std::filesystem::current_path(ec) / path;
  const std::string ext = LowerAscii(path.extension().string());
  const char* device = ext == ".wav"                                         ? "waveaudio"
                       : ext == ".mid" || ext == ".midi" || ext == ".rmi" ? "sequencer"
                                                                            : nullptr;
  if (!device) return mci_err::kExtensionNotFound;
  uint32_t r =
      mci_.SendString("open " + QuoteMciArgument(std::string(device) + "!" + path.string()) + " alias " + kAlias);
  if (r != 0) return r;
  open_ = true;
  // The sample's end restores the button; the device stays open until the
  // next preview or a stop, as the control closes it.
  std::weak_ptr<Listener> weak = listener_;
  r = mci_.SendString(std::string("play ") + kAlias + " from 0 notify", nullptr, [weak](uint32_t, uint32_t code) {
    auto l = weak.lock();
    if (!l || code != mci_notify::kSuccessful) return;
    std::lock_guard lock(l->lock);
    if (l->playing) l->playing(false);
  });
  if (r != 0) {
    StopSample();
    return r;
  }
  Tell(true);
  return 0;
}

void SamplePlayer::StopSample() {
  if (!open_) return;
  open_ = false;
  mci_.SendString(std::string("close ") + kAlias);
  Tell(false);
}

}  // namespace kv
