#include "media/mci_devices.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "media/mci_command.h"
#include "media/mci_errors.h"
#include "media/midi_render.h"
#include "media/movie_playback.h"
#include "media/sound_file.h"

namespace kv {

namespace fs = std::filesystem;

namespace {

enum class DeviceType { kWave, kSequencer, kCd, kVideo };
enum class TimeFormat { kMs, kMsf, kTmsf, kFrames };

constexpr std::pair<DeviceType, const char*> kTypeNames[] = {
    {DeviceType::kWave, "waveaudio"},
    {DeviceType::kSequencer, "sequencer"},
    {DeviceType::kCd, "cdaudio"},
    {DeviceType::kVideo, "digitalvideo"},
    {DeviceType::kVideo, "avivideo"},
};
constexpr uint64_t kCdFramesPerSecond = 75;
constexpr int kMaxTracks = 99;

std::optional<DeviceType> TypeByName(std::string_view name) {
  const std::string n = LowerAscii(name);
  for (auto [t, s] : kTypeNames) {
    if (n == s) return t;
  }
  return std::nullopt;
}

const char* TypeName(DeviceType t) {
  for (auto [type, s] : kTypeNames) {
    if (type == t) return s;
  }
  return "";
}

std::optional<DeviceType> TypeByExtension(const std::string& element) {
  const std::string ext = LowerAscii(fs::path(element).extension().string());
  if (ext == ".mid" || ext == ".midi" || ext == ".rmi") return DeviceType::kSequencer;
  for (const char* e : {".avi", ".mpg", ".mpeg", ".mpe", ".mp4", ".m4v", ".mov", ".qt", ".mkv", ".webm", ".wmv",
                        ".asf", ".ogv", ".flv"}) {
    if (ext == e) return DeviceType::kVideo;
  }
  for (const char* e : {".wav", ".aif", ".aiff", ".flac", ".ogg", ".oga"}) {
    if (ext == e) return DeviceType::kWave;
  }
  return std::nullopt;
}

}  // namespace

struct MciSystem::MediaSpan {
  std::shared_ptr<const SoundBuffer> buffer;
  uint64_t begin = 0, end = 0;  // frames of `buffer` for the asked range
};

// What a device plays: a timeline of frames, cut into tracks.
class MciSystem::Media {
 public:
  using Span = MediaSpan;
  virtual ~Media() = default;
  virtual uint32_t Rate() const = 0;
  virtual uint64_t Frames() const = 0;
  // Start frame of each track; empty when no media is present.
  virtual const std::vector<uint64_t>& TrackStarts() const = 0;
  virtual Span Load(uint64_t from, uint64_t to) = 0;  // throws MciError
};

namespace {

using Media = MciSystem::Media;

// One sound in memory. A rendered song is longer than its length by the
// release of its last notes, which rings out when it plays to its end.
class WholeMedia : public Media {
 public:
  explicit WholeMedia(SoundBuffer sound, std::optional<uint64_t> length = std::nullopt)
      : sound_(std::make_shared<SoundBuffer>(std::move(sound))),
        frames_(std::min(length.value_or(UINT64_MAX), sound_->Frames())) {}
  uint32_t Rate() const override { return sound_->sampleRate; }
  uint64_t Frames() const override { return frames_; }
  const std::vector<uint64_t>& TrackStarts() const override { return starts_; }
  Span Load(uint64_t from, uint64_t to) override { return {sound_, from, to >= frames_ ? sound_->Frames() : to}; }

 private:
  std::shared_ptr<const SoundBuffer> sound_;
  uint64_t frames_;
  std::vector<uint64_t> starts_{0};
};

// Ripped tracks named by number ("1.wav", "02.flac", "Track03.ogg"), 1 up
// to the first missing or unreadable one, all at the first track's rate.
class TrackFolder : public Media {
 public:
  explicit TrackFolder(const fs::path& folder) {
    std::map<int, fs::path> numbered;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      std::string stem = LowerAscii(it->path().stem().string());
      if (stem.rfind("track", 0) == 0) stem.erase(0, 5);
      int n = 0;
      auto [p, err] = std::from_chars(stem.data(), stem.data() + stem.size(), n);
      if (err != std::errc() || p != stem.data() + stem.size() || n < 1 || n > kMaxTracks) continue;
      numbered.emplace(n, it->path());
    }
    for (int n = 1; numbered.count(n); ++n) {
      const auto info = ReadSoundInfo(numbered[n]);
      if (!info || info->frames == 0 || (!files_.empty() && info->sampleRate != rate_)) break;
      if (files_.empty()) rate_ = info->sampleRate;
      starts_.push_back(frames_);
      files_.push_back(numbered[n]);
      frames_ += info->frames;
    }
  }
  uint32_t Rate() const override { return rate_; }
  uint64_t Frames() const override { return frames_; }
  const std::vector<uint64_t>& TrackStarts() const override { return starts_; }

  // Decodes the tracks the range touches into one stereo buffer.
  Span Load(uint64_t from, uint64_t to) override {
    auto out = std::make_shared<SoundBuffer>();
    out->channels = 2;
    out->sampleRate = rate_;
    out->samples.reserve(static_cast<size_t>((to - from) * 2));
    for (size_t t = 0; t < files_.size(); ++t) {
      const uint64_t start = starts_[t];
      const uint64_t end = t + 1 < starts_.size() ? starts_[t + 1] : frames_;
      if (end <= from || start >= to) continue;
      SoundBuffer track;
      try {
        track = ReadSoundFile(files_[t]);
      } catch (const SoundFileError&) {
        throw MciError{mci_err::kInvalidFile};
      }
      for (uint64_t f = std::max(from, start); f < std::min(to, end); ++f) {
        // Frames the header promised but the decoder did not give play as silence.
        const uint64_t i = f - start;
        const bool have = i < track.Frames();
        const float l = have ? track.samples[i * track.channels] : 0.0f;
        const float r = have ? track.samples[i * track.channels + track.channels - 1] : 0.0f;
        out->samples.push_back(l);
        out->samples.push_back(r);
      }
    }
    return {out, 0, to - from};
  }

 private:
  std::vector<fs::path> files_;
  std::vector<uint64_t> starts_;
  uint64_t frames_ = 0;
  uint32_t rate_ = 44100;
};

constexpr MciKeyword kOpenGrammar[] = {
    {"type", true}, {"alias", true}, {"shareable", false}, {"wait", false}, {"notify", false}};
constexpr MciKeyword kPlainGrammar[] = {{"wait", false}, {"notify", false}};
constexpr MciKeyword kPlayGrammar[] = {{"from", true}, {"to", true}, {"wait", false}, {"notify", false}};
constexpr MciKeyword kSeekGrammar[] = {{"to", true}, {"wait", false}, {"notify", false}};
constexpr MciKeyword kSetGrammar[] = {{"time format", true}, {"audio", true},       {"on", false},
                                      {"off", false},        {"door open", false},  {"door closed", false},
                                      {"wait", false},       {"notify", false}};
constexpr const char* kStatusItems[] = {"mode",  "position",      "length",     "number of tracks", "current track",
                                        "ready", "media present", "time format"};
constexpr const char* kCapabilityItems[] = {"can play",   "can record", "can eject",  "can save",       "has audio",
                                            "has video",  "device type", "uses files", "compound device"};

// A grammar of one-item queries plus the flags every command takes.
template <size_t N>
std::vector<MciKeyword> ItemGrammar(const char* const (&items)[N], bool withTrack) {
  std::vector<MciKeyword> g(std::begin(kPlainGrammar), std::end(kPlainGrammar));
  for (const char* item : items) g.push_back({item, false});
  if (withTrack) g.push_back({"track", true});
  return g;
}

// The one item a status or capability command asks for.
template <size_t N>
std::string TheItem(const std::map<std::string, std::string>& kw, const char* const (&items)[N]) {
  std::string item;
  for (const char* i : items) {
    if (!kw.count(i)) continue;
    if (!item.empty()) throw MciError{mci_err::kFlagsNotCompatible};
    item = i;
  }
  if (item.empty()) throw MciError{mci_err::kMissingParameter};
  return item;
}

uint64_t ParseNumber(const std::string& s, uint64_t max) {
  uint64_t v = 0;
  auto [p, err] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || err != std::errc() || p != s.data() + s.size() || v > max) throw MciError{mci_err::kBadInteger};
  return v;
}

std::string Msf(uint64_t cdFrames) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02llu:%02llu:%02llu",
                static_cast<unsigned long long>(cdFrames / (kCdFramesPerSecond * 60)),
                static_cast<unsigned long long>(cdFrames / kCdFramesPerSecond % 60),
                static_cast<unsigned long long>(cdFrames % kCdFramesPerSecond));
  return buf;
}

const char* Bool(bool b) { return b ? "true" : "false"; }

}  // namespace

struct MciSystem::Device {
  uint32_t id = 0;
  std::string name;
  DeviceType type = DeviceType::kWave;
  std::shared_ptr<Media> media;  // shared: loading runs outside the system's lock
  TimeFormat format = TimeFormat::kMs;
  VoiceId voice = 0;
  uint64_t voiceFrames = 0;  // what the voice plays, a song's release included
  uint64_t playFrom = 0, playTo = 0;
  uint64_t position = 0;  // when no voice sounds
  bool paused = false;
  bool muted = false;
  MciNotifyFn playNotify;
  // Digital video: the movie on the run's clock and where its window would be.
  std::unique_ptr<MoviePlayback> movie;
  std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>>(true);
  std::array<int64_t, 4> destination{};  // x, y, width, height
  bool windowShown = true;

  bool Present() const { return media && !media->TrackStarts().empty(); }
  // Where the device is; a song's release tail counts as its end.
  uint64_t Current(const Mixer& mixer) const {
    return voice ? std::min(playTo, playFrom + mixer.Position(voice).value_or(0)) : position;
  }
  uint32_t Rate() const { return media && media->Rate() ? media->Rate() : Mixer::kRate; }
  uint64_t Frames() const { return media ? media->Frames() : 0; }

  uint64_t ToCd(uint64_t frame) const { return frame * kCdFramesPerSecond / Rate(); }
  uint64_t FromCd(uint64_t cdFrames) const { return cdFrames * Rate() / kCdFramesPerSecond; }

  size_t TrackOf(uint64_t frame) const {
    const auto& s = media->TrackStarts();
    return static_cast<size_t>(std::upper_bound(s.begin(), s.end(), frame) - s.begin());  // 1-based
  }

  uint64_t ParsePosition(const std::string& text) const {
    if (format == TimeFormat::kMs) return ParseNumber(text, 0xFFFFFFFFu) * Rate() / 1000;
    std::array<uint64_t, 4> part{};
    size_t count = 0, at = 0;
    const size_t most = format == TimeFormat::kTmsf ? 4 : 3;
    for (;;) {
      const size_t colon = text.find(':', at);
      if (count == most) throw MciError{mci_err::kBadInteger};
      part[count++] = ParseNumber(text.substr(at, colon == std::string::npos ? colon : colon - at), 255);
      if (colon == std::string::npos) break;
      at = colon + 1;
    }
    if (format == TimeFormat::kMsf) return FromCd((part[0] * 60 + part[1]) * kCdFramesPerSecond + part[2]);
    const auto& starts = media->TrackStarts();
    if (part[0] < 1 || part[0] > starts.size()) throw MciError{mci_err::kOutOfRange};
    return starts[part[0] - 1] + FromCd((part[1] * 60 + part[2]) * kCdFramesPerSecond + part[3]);
  }

  std::string FormatPosition(uint64_t frame) const {
    if (format == TimeFormat::kMs) return std::to_string(FramesToMs(frame, Rate()));
    if (format == TimeFormat::kMsf || !Present()) return Msf(ToCd(frame));
    const size_t t = TrackOf(frame);
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02u:", static_cast<unsigned>(t));
    return buf + Msf(ToCd(frame - media->TrackStarts()[t - 1]));
  }

  // Lengths of the whole media or of one track; tmsf lengths read as msf.
  std::string FormatLength(uint64_t frames) const {
    return format == TimeFormat::kMs ? std::to_string(FramesToMs(frames, Rate())) : Msf(ToCd(frames));
  }
};

MciSystem::MciSystem(Mixer* mixer, MciConfig config) : mixer_(mixer), config_(std::move(config)) {
  if (config_.soundFont.empty()) config_.soundFont = kDefaultSoundFont;
}

MciSystem::~MciSystem() {
  std::lock_guard lock(lock_);
  while (!devices_.empty()) Close(*devices_.begin()->second);
}

size_t MciSystem::OpenCount() const {
  std::lock_guard lock(lock_);
  return devices_.size();
}

uint32_t MciSystem::SendString(std::string_view command, std::string* ret, MciNotifyFn notify) {
  std::string local;
  std::string& out = ret ? *ret : local;
  out.clear();
  try {
    return Execute(command, out, notify);
  } catch (const MciError& e) {
    out.clear();
    return e.code;
  } catch (const std::bad_alloc&) {
    out.clear();
    return mci_err::kInternal;  // a file too large to hold is the command's failure, not the player's
  }
}

MciSystem::Device& MciSystem::Find(const std::string& name) {
  const std::string n = LowerAscii(name);
  for (auto& [id, d] : devices_) {
    if (LowerAscii(d->name) == n) return *d;
  }
  throw MciError{mci_err::kInvalidDeviceName};
}

uint32_t MciSystem::Execute(std::string_view command, std::string& ret, const MciNotifyFn& notify) {
  const MciCommand cmd = ParseMciCommand(command);
  std::unique_lock lock(lock_);
  if (cmd.verb == "open") return Open(cmd, ret, notify, lock);

  const bool all = LowerAscii(cmd.device) == "all";
  std::map<std::string, std::string> kw;
  auto done = [&](uint32_t id) {
    if (kw.count("notify") && notify) notify(id, mci_notify::kSuccessful);
    return 0u;
  };

  if (cmd.verb == "close") {
    kw = MatchMciKeywords(cmd.args, kPlainGrammar);
    if (all) {
      while (!devices_.empty()) Close(*devices_.begin()->second);
      return done(0);
    }
    Device& d = Find(cmd.device);
    const uint32_t id = d.id;
    Close(d);
    return done(id);
  }
  const bool known = cmd.verb == "play" || cmd.verb == "stop" || cmd.verb == "pause" || cmd.verb == "resume" ||
                     cmd.verb == "seek" || cmd.verb == "set" || cmd.verb == "status" || cmd.verb == "capability" ||
                     cmd.verb == "put" || cmd.verb == "where" || cmd.verb == "window";
  if (!known) throw MciError{mci_err::kUnrecognizedCommand};
  if (all) throw MciError{mci_err::kCannotUseAll};
  Device& d = Find(cmd.device);
  // "set" is common to every device; the rest of digital video is its own.
  if (d.type == DeviceType::kVideo && cmd.verb != "set") return ExecuteVideo(d, cmd, ret, notify, lock);

  if (cmd.verb == "play") {
    kw = MatchMciKeywords(cmd.args, kPlayGrammar);
    if (!d.Present()) throw MciError{mci_err::kDeviceNotReady};
    if (d.paused && !kw.count("from") && !kw.count("to")) {
      mixer_->Resume(d.voice);
      d.paused = false;
      Observe(d, "resume");
      if (kw.count("notify")) d.playNotify = notify;
    } else {
      const uint64_t from = kw.count("from") ? d.ParsePosition(kw["from"]) : d.Current(*mixer_);
      const uint64_t to = kw.count("to") ? d.ParsePosition(kw["to"]) : d.Frames();
      if (from > d.Frames() || to > d.Frames() || from > to) throw MciError{mci_err::kOutOfRange};
      Media::Span span;
      if (from < to) {
        // Decoding tracks takes long; the audio thread's end calls need the lock meanwhile.
        const uint32_t id = d.id;
        std::shared_ptr<Media> media = d.media;
        lock.unlock();
        span = media->Load(from, to);
        lock.lock();
        if (!devices_.count(id)) throw MciError{mci_err::kInvalidDeviceName};
      }
      Halt(d, mci_notify::kSuperseded);
      StartPlay(d, from, to, span, kw.count("notify") ? notify : MciNotifyFn{});
    }
    if (kw.count("wait") && d.voice) {
      const uint64_t left = d.voiceFrames - std::min(d.voiceFrames, mixer_->Position(d.voice).value_or(0));
      const int64_t ms = static_cast<int64_t>(FramesToMs(left, d.Rate())) + 1;
      // Unlocked: the sound's end comes in from the rendering thread meanwhile.
      lock.unlock();
      if (config_.wait) {
        const VoiceId voice = d.voice;
        config_.wait(ms, [this, id = d.id, voice] {
          std::lock_guard relock(lock_);
          auto it = devices_.find(id);
          return it == devices_.end() || it->second->voice != voice;
        });
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      }
    }
    return 0;
  }
  // Window placement belongs to digital video alone.
  if (cmd.verb == "put" || cmd.verb == "where" || cmd.verb == "window") throw MciError{mci_err::kUnrecognizedCommand};
  if (cmd.verb == "stop") {
    kw = MatchMciKeywords(cmd.args, kPlainGrammar);
    Halt(d, mci_notify::kAborted);
    return done(d.id);
  }
  if (cmd.verb == "pause") {
    kw = MatchMciKeywords(cmd.args, kPlainGrammar);
    if (d.voice && mixer_->Pause(d.voice)) {
      d.paused = true;
      Observe(d, "pause");
    }
    return done(d.id);
  }
  if (cmd.verb == "resume") {
    kw = MatchMciKeywords(cmd.args, kPlainGrammar);
    if (d.voice && d.paused && mixer_->Resume(d.voice)) {
      d.paused = false;
      Observe(d, "resume");
    }
    return done(d.id);
  }
  if (cmd.verb == "seek") {
    kw = MatchMciKeywords(cmd.args, kSeekGrammar);
    if (!kw.count("to")) throw MciError{mci_err::kMissingParameter};
    if (!d.Present()) throw MciError{mci_err::kDeviceNotReady};
    const std::string to = LowerAscii(kw["to"]);
    const uint64_t target = to == "start" ? 0 : to == "end" ? d.Frames() : d.ParsePosition(kw["to"]);
    if (target > d.Frames()) throw MciError{mci_err::kOutOfRange};
    Halt(d, mci_notify::kAborted);
    d.position = target;
    return done(d.id);
  }
  if (cmd.verb == "set") {
    kw = MatchMciKeywords(cmd.args, kSetGrammar);
    if (kw.count("time format")) {
      const std::string f = LowerAscii(kw["time format"]);
      if (f == "milliseconds" || f == "ms") {
        d.format = TimeFormat::kMs;
      } else if ((f == "tmsf" || f == "msf") && d.type == DeviceType::kCd) {
        d.format = f == "tmsf" ? TimeFormat::kTmsf : TimeFormat::kMsf;
      } else if (f == "frames" && d.type == DeviceType::kVideo) {
        d.format = TimeFormat::kFrames;
      } else {
        throw MciError{mci_err::kBadTimeFormat};
      }
    }
    if (kw.count("audio")) {
      const std::string side = LowerAscii(kw["audio"]);
      if ((side != "all" && side != "left" && side != "right") || kw.count("on") == kw.count("off")) {
        throw MciError{mci_err::kBadConstant};
      }
      // Both sides switch together: a one-sided switch is taken for all.
      d.muted = kw.count("off") > 0;
      if (d.movie) {
        d.movie->SetMuted(d.muted);
      } else if (d.voice) {
        mixer_->SetVolume(d.voice, d.muted ? kVolumeSilent : kVolumeFull);
      }
    }
    // "door open" and "door closed" have no drive to act on and succeed.
    if (!kw.count("time format") && !kw.count("audio") && !kw.count("door open") && !kw.count("door closed")) {
      throw MciError{mci_err::kMissingParameter};
    }
    return done(d.id);
  }
  if (cmd.verb == "status") {
    kw = MatchMciKeywords(cmd.args, ItemGrammar(kStatusItems, true));
    const std::string item = TheItem(kw, kStatusItems);
    const uint64_t position = d.Current(*mixer_);
    if (kw.count("track") && item != "position" && item != "length") throw MciError{mci_err::kFlagsNotCompatible};
    if (item == "mode") {
      ret = !d.Present() ? "not ready" : d.paused ? "paused" : d.voice ? "playing" : "stopped";
    } else if (item == "ready" || item == "media present") {
      ret = Bool(d.Present());
    } else if (item == "time format") {
      ret = d.format == TimeFormat::kMs ? "milliseconds" : d.format == TimeFormat::kMsf ? "msf" : "tmsf";
    } else if (!d.Present()) {
      throw MciError{mci_err::kDeviceNotReady};
    } else if (item == "number of tracks") {
      ret = std::to_string(d.media->TrackStarts().size());
    } else if (item == "current track") {
      ret = std::to_string(d.TrackOf(position));
    } else {
      const auto& starts = d.media->TrackStarts();
      size_t track = 0;
      if (kw.count("track")) {
        track = static_cast<size_t>(ParseNumber(kw["track"], 0xFFFF));
        if (track < 1 || track > starts.size()) throw MciError{mci_err::kOutOfRange};
      }
      const uint64_t start = track ? starts[track - 1] : 0;
      const uint64_t end = track && track < starts.size() ? starts[track] : d.Frames();
      ret = item == "length" ? d.FormatLength(end - start) : d.FormatPosition(track ? start : position);
    }
    return done(d.id);
  }
  // capability
  kw = MatchMciKeywords(cmd.args, ItemGrammar(kCapabilityItems, false));
  const std::string item = TheItem(kw, kCapabilityItems);
  const bool files = d.type != DeviceType::kCd;
  if (item == "device type") {
    ret = TypeName(d.type);
  } else if (item == "can play" || item == "has audio") {
    ret = Bool(true);
  } else if (item == "can eject") {
    ret = Bool(d.type == DeviceType::kCd);
  } else if (item == "uses files" || item == "compound device") {
    ret = Bool(files);
  } else {
    ret = Bool(false);  // can record, can save, has video
  }
  return done(d.id);
}

uint32_t MciSystem::Open(const MciCommand& cmd, std::string& ret, const MciNotifyFn& notify,
                         std::unique_lock<std::recursive_mutex>& lock) {
  auto kw = MatchMciKeywords(cmd.args, kOpenGrammar);
  if (LowerAscii(cmd.device) == "new") throw MciError{mci_err::kUnsupportedFunction};  // no recording
  std::optional<DeviceType> type;
  std::string element;
  const size_t bang = cmd.device.find('!');
  if (bang != std::string::npos && TypeByName(cmd.device.substr(0, bang))) {
    type = TypeByName(cmd.device.substr(0, bang));
    element = cmd.device.substr(bang + 1);
  } else if (TypeByName(cmd.device)) {
    type = TypeByName(cmd.device);
  } else {
    element = cmd.device;
  }
  if (kw.count("type")) {
    if (bang != std::string::npos && type) throw MciError{mci_err::kFlagsNotCompatible};
    type = TypeByName(kw["type"]);
    if (!type) throw MciError{mci_err::kDeviceNotInstalled};
  }
  if (!type) type = TypeByExtension(element);
  if (!type) throw MciError{mci_err::kExtensionNotFound};
  if (*type == DeviceType::kVideo && !config_.movieClock) throw MciError{mci_err::kDeviceNotInstalled};
  if (*type != DeviceType::kCd && element.empty()) throw MciError{mci_err::kFilenameRequired};

  const bool aliased = kw.count("alias") > 0;
  const std::string name = aliased ? kw["alias"] : !element.empty() ? element : TypeName(*type);
  // Answers the id of a device a shareable open may share.
  auto nameInUse = [&]() -> std::optional<uint32_t> {
    for (auto& [id, d] : devices_) {
      if (LowerAscii(d->name) != LowerAscii(name)) continue;
      if (aliased) throw MciError{mci_err::kDuplicateAlias};
      if (kw.count("shareable") && d->type == *type) return id;
      throw MciError{mci_err::kDeviceOpen};
    }
    return std::nullopt;
  };
  if (auto shared = nameInUse()) {
    ret = std::to_string(*shared);
    return 0;
  }
  if (!mixer_ && *type != DeviceType::kVideo) {
    throw MciError{*type == DeviceType::kWave        ? mci_err::kWaveOutputsInUse
                   : *type == DeviceType::kSequencer ? mci_err::kSeqNoMidiPresent
                                                     : mci_err::kCannotLoadDriver};
  }

  // Decoding and MIDI rendering run unlocked: they take long, and the audio
  // thread's end calls need the lock meanwhile.
  lock.unlock();
  std::shared_ptr<Media> media;
  auto d = std::make_unique<Device>();
  try {
    if (*type == DeviceType::kVideo)
      OpenVideo(*d, element);
    else
      media = LoadMedia(static_cast<int>(*type), element);
  } catch (...) {
    lock.lock();
    throw;
  }
  lock.lock();
  if (auto shared = nameInUse()) {
    ret = std::to_string(*shared);
    return 0;
  }
  d->type = *type;
  d->name = name;
  d->media = std::move(media);
  if (*type == DeviceType::kCd) d->format = TimeFormat::kMsf;
  d->id = nextId_++;
  ret = std::to_string(d->id);
  const uint32_t id = d->id;
  devices_.emplace(id, std::move(d));
  if (kw.count("notify") && notify) notify(id, mci_notify::kSuccessful);
  return 0;
}

std::shared_ptr<Media> MciSystem::LoadMedia(int kind, const std::string& element) const {
  const auto type = static_cast<DeviceType>(kind);
  if (type == DeviceType::kCd) return std::make_shared<TrackFolder>(config_.cdFolder);
  std::optional<fs::path> file;
  if (config_.resolve) {
    file = config_.resolve(element);
  } else if (std::error_code ec; fs::is_regular_file(element, ec)) {
    file = fs::path(element);
  }
  if (!file) throw MciError{mci_err::kFileNotFound};
  if (type == DeviceType::kSequencer) {
    RenderedMidi song = RenderMidiFile(*file, config_.soundFont);
    return std::make_shared<WholeMedia>(std::move(song.sound), song.musicFrames);
  }
  try {
    return std::make_shared<WholeMedia>(ReadSoundFile(*file));
  } catch (const SoundFileError&) {
    throw MciError{mci_err::kInvalidFile};
  }
}

void MciSystem::Close(Device& d) {
  Halt(d, mci_notify::kAborted);
  if (d.movie && d.movie->GetMode() != MoviePlayback::Mode::kStopped) Observe(d, "stop");
  // The movie's thread may be waiting for the lock to report its end: it
  // hears that the device is gone and lets go, so that it can be joined.
  *d.alive = false;
  devices_.erase(d.id);
}

void MciSystem::StartPlay(Device& d, uint64_t from, uint64_t to, const Media::Span& span, MciNotifyFn notify) {
  d.position = from;
  d.playFrom = from;
  d.playTo = to;
  if (from == to) {
    if (notify) notify(d.id, mci_notify::kSuccessful);
    return;
  }
  const VoiceId voice = mixer_->CreateVoice(span.buffer, span.begin, span.end);
  if (voice == 0) throw MciError{mci_err::kInternal};
  const uint32_t id = d.id;
  mixer_->SetEndCallback(voice, [this, id](VoiceId v, VoiceEnd why) { OnVoiceEnd(id, v, why); });
  if (d.muted) mixer_->SetVolume(voice, kVolumeSilent);
  d.voice = voice;
  d.voiceFrames = span.end - span.begin;
  d.playNotify = std::move(notify);
  mixer_->Play(voice, 1, false);
  Observe(d, "play");
}

void MciSystem::Observe(const Device& d, const char* op) {
  if (config_.onSound) config_.onSound(d.name, op);
}

void MciSystem::Halt(Device& d, uint32_t notifyCode) {
  if (d.voice) {
    const VoiceId v = d.voice;
    d.position = d.Current(*mixer_);
    d.voice = 0;  // the destroyed voice's end call is then recognised as stale
    mixer_->DestroyVoice(v);
    Observe(d, "stop");
  }
  d.paused = false;
  if (d.playNotify) {
    MciNotifyFn fn = std::move(d.playNotify);
    d.playNotify = nullptr;
    fn(d.id, notifyCode);
  }
}

void MciSystem::OnVoiceEnd(uint32_t deviceId, VoiceId voice, VoiceEnd why) {
  MciNotifyFn fn;
  {
    std::lock_guard lock(lock_);
    auto it = devices_.find(deviceId);
    if (why != VoiceEnd::kFinished || it == devices_.end() || it->second->voice != voice) return;
    Device& d = *it->second;
    d.position = d.playTo;
    d.voice = 0;
    Observe(d, "stop");
    fn = std::move(d.playNotify);
    d.playNotify = nullptr;
  }
  mixer_->DestroyVoice(voice);
  if (fn) fn(deviceId, mci_notify::kSuccessful);
}

}  // namespace kv

// --- digital video

namespace kv {

namespace {

constexpr MciKeyword kPutGrammar[] = {{"destination", false}, {"source", false}, {"window", false},
                                      {"frame", false},       {"video", false},  {"wait", false},
                                      {"notify", false}};
constexpr MciKeyword kWhereGrammar[] = {{"destination", false}, {"source", false}, {"window", false},
                                        {"frame", false},       {"video", false},  {"wait", false},
                                        {"notify", false}};
constexpr MciKeyword kWindowGrammar[] = {{"state", true}, {"handle", true}, {"text", true},
                                         {"wait", false}, {"notify", false}};
constexpr const char* kVideoStatusItems[] = {"mode",        "position",         "length",    "ready",
                                             "media present", "time format",    "frame rate", "number of tracks",
                                             "current track", "window visible"};

}  // namespace

void MciSystem::OpenVideo(Device& d, const std::string& element) {
  std::optional<fs::path> file;
  if (config_.resolve) {
    file = config_.resolve(element);
  } else if (std::error_code ec; fs::is_regular_file(element, ec)) {
    file = fs::path(element);
  }
  if (!file) throw MciError{mci_err::kFileNotFound};
  std::unique_ptr<MovieDecoder> decoder;
  try {
    decoder = MovieDecoder::OpenFile(*file);
  } catch (const MovieError& e) {
    throw MciError{e.kind() == MovieError::Kind::kNotFound ? mci_err::kFileNotFound : mci_err::kInvalidFile};
  }
  const MovieInfo& info = decoder->Info();
  d.destination = {0, 0, info.width, info.height};
  d.format = TimeFormat::kMs;
  // The sound joins the mixer; the player renders it before and after every
  // command, so the movie needs no hooks of its own.
  MovieAudioOut audio;
  audio.mixer = mixer_;
  d.movie = std::make_unique<MoviePlayback>(config_.movieClock(), std::move(decoder), audio, MoviePlayback::Present{});
}

void MciSystem::OnVideoEnd(uint32_t deviceId, const std::shared_ptr<std::atomic<bool>>& alive) {
  MciNotifyFn fn;
  {
    // The lock, unless the device is being closed meanwhile: its closer
    // holds the lock while it waits for this thread.
    std::unique_lock<std::recursive_mutex> lock(lock_, std::defer_lock);
    while (!lock.try_lock()) {
      if (!*alive) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    auto it = devices_.find(deviceId);
    if (!*alive || it == devices_.end()) return;
    Device& d = *it->second;
    Observe(d, "stop");
    fn = std::move(d.playNotify);
    d.playNotify = nullptr;
  }
  if (fn) fn(deviceId, mci_notify::kSuccessful);
}

uint32_t MciSystem::ExecuteVideo(Device& d, const MciCommand& cmd, std::string& ret, const MciNotifyFn& notify,
                                 std::unique_lock<std::recursive_mutex>& lock) {
  MoviePlayback& movie = *d.movie;
  const MovieInfo& info = movie.Info();
  std::map<std::string, std::string> kw;
  auto done = [&]() {
    if (kw.count("notify") && notify) notify(d.id, mci_notify::kSuccessful);
    return 0u;
  };
  auto toMs = [&](const std::string& text) -> int64_t {
    if (d.format == TimeFormat::kFrames) {
      const uint64_t frame = ParseNumber(text, 0xFFFFFFFFu);
      if (int64_t(frame) > info.frameCount) throw MciError{mci_err::kOutOfRange};
      return std::min(info.lengthMs, MovieMsOfFrame(int64_t(frame), info.frameRate));
    }
    const int64_t ms = int64_t(ParseNumber(text, 0xFFFFFFFFu));
    if (ms > info.lengthMs) throw MciError{mci_err::kOutOfRange};
    return ms;
  };
  auto format = [&](int64_t ms) {
    return std::to_string(d.format == TimeFormat::kFrames ? MovieFrameAt(ms, info.frameRate) : ms);
  };
  // The notification of a play that another command ends.
  auto endPlay = [&](uint32_t code) {
    if (!d.playNotify) return;
    MciNotifyFn fn = std::move(d.playNotify);
    d.playNotify = nullptr;
    fn(d.id, code);
  };
  const bool wasPlaying = movie.GetMode() != MoviePlayback::Mode::kStopped;

  if (cmd.verb == "play") {
    kw = MatchMciKeywords(cmd.args, kPlayGrammar);
    if (movie.GetMode() == MoviePlayback::Mode::kPaused && !kw.count("from") && !kw.count("to")) {
      movie.Resume();
      Observe(d, "resume");
      if (kw.count("notify")) d.playNotify = notify;
    } else {
      const int64_t from = kw.count("from") ? toMs(kw["from"]) : -1;
      const int64_t to = kw.count("to") ? toMs(kw["to"]) : info.lengthMs;
      const int64_t start = from >= 0 ? from : movie.PositionMs();
      if (start > to) throw MciError{mci_err::kOutOfRange};
      endPlay(mci_notify::kSuperseded);
      if (wasPlaying) Observe(d, "stop");
      const uint32_t id = d.id;
      auto alive = d.alive;
      movie.SetMuted(d.muted);
      movie.Play(from, to, [this, id, alive] { OnVideoEnd(id, alive); });
      if (kw.count("notify")) d.playNotify = notify;
      Observe(d, "play");
    }
    if (kw.count("wait")) {
      const int64_t ms = std::max<int64_t>(0, movie.EndMs() - movie.PositionMs()) + 1;
      lock.unlock();
      if (config_.wait) {
        config_.wait(ms, [&movie] { return movie.GetMode() != MoviePlayback::Mode::kPlaying; });
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      }
      lock.lock();
    }
    return 0;
  }
  if (cmd.verb == "stop") {
    kw = MatchMciKeywords(cmd.args, kPlainGrammar);
    movie.Stop();
    if (wasPlaying) Observe(d, "stop");
    endPlay(mci_notify::kAborted);
    return done();
  }
  if (cmd.verb == "pause" || cmd.verb == "resume") {
    kw = MatchMciKeywords(cmd.args, kPlainGrammar);
    const bool pause = cmd.verb == "pause";
    if (movie.GetMode() == (pause ? MoviePlayback::Mode::kPlaying : MoviePlayback::Mode::kPaused)) {
      pause ? movie.Pause() : movie.Resume();
      Observe(d, pause ? "pause" : "resume");
    }
    return done();
  }
  if (cmd.verb == "seek") {
    kw = MatchMciKeywords(cmd.args, kSeekGrammar);
    if (!kw.count("to")) throw MciError{mci_err::kMissingParameter};
    const std::string to = LowerAscii(kw["to"]);
    const int64_t target = to == "start" ? 0 : to == "end" ? info.lengthMs : toMs(kw["to"]);
    movie.Stop();
    if (wasPlaying) Observe(d, "stop");
    endPlay(mci_notify::kAborted);
    movie.Cue(target);
    return done();
  }
  if (cmd.verb == "status") {
    kw = MatchMciKeywords(cmd.args, ItemGrammar(kVideoStatusItems, false));
    const std::string item = TheItem(kw, kVideoStatusItems);
    if (item == "mode") {
      const auto mode = movie.GetMode();
      ret = mode == MoviePlayback::Mode::kPlaying ? "playing" : mode == MoviePlayback::Mode::kPaused ? "paused" : "stopped";
    } else if (item == "position") {
      ret = format(movie.PositionMs());
    } else if (item == "length") {
      ret = d.format == TimeFormat::kFrames ? std::to_string(info.frameCount) : std::to_string(info.lengthMs);
    } else if (item == "ready" || item == "media present") {
      ret = Bool(true);
    } else if (item == "time format") {
      ret = d.format == TimeFormat::kFrames ? "frames" : "milliseconds";
    } else if (item == "frame rate") {
      ret = std::to_string(std::llround(info.frameRate * 1000));  // frames a second, times 1000
    } else if (item == "number of tracks" || item == "current track") {
      ret = "1";
    } else {
      ret = Bool(d.windowShown);
    }
    return done();
  }
  if (cmd.verb == "capability") {
    kw = MatchMciKeywords(cmd.args, ItemGrammar(kCapabilityItems, false));
    const std::string item = TheItem(kw, kCapabilityItems);
    if (item == "device type") {
      ret = TypeName(d.type);
    } else if (item == "has audio") {
      ret = Bool(info.hasAudio);
    } else {
      ret = Bool(item == "can play" || item == "has video" || item == "uses files" || item == "compound device");
    }
    return done();
  }
  if (cmd.verb == "put") {
    // "at X Y W H" takes four values, which the keyword matcher cannot.
    std::vector<MciToken> args;
    std::optional<std::array<int64_t, 4>> at;
    for (size_t i = 0; i < cmd.args.size(); ++i) {
      if (!cmd.args[i].quoted && LowerAscii(cmd.args[i].text) == "at") {
        if (at) throw MciError{mci_err::kDuplicateFlags};
        if (i + 4 >= cmd.args.size()) throw MciError{mci_err::kMissingStringArgument};
        std::array<int64_t, 4> r{};
        for (int k = 0; k < 4; ++k) r[size_t(k)] = int64_t(ParseNumber(cmd.args[i + 1 + size_t(k)].text, 0x7FFF));
        at = r;
        i += 4;
        continue;
      }
      args.push_back(cmd.args[i]);
    }
    kw = MatchMciKeywords(args, kPutGrammar);
    if (!kw.count("destination") && !kw.count("window") && !kw.count("source") && !kw.count("frame") &&
        !kw.count("video"))
      throw MciError{mci_err::kMissingParameter};
    if ((kw.count("destination") || kw.count("window")) && at) d.destination = *at;
    return done();
  }
  if (cmd.verb == "where") {
    kw = MatchMciKeywords(cmd.args, kWhereGrammar);
    std::array<int64_t, 4> r = d.destination;
    if (kw.count("source") || kw.count("frame") || kw.count("video")) r = {0, 0, info.width, info.height};
    else if (!kw.count("destination") && !kw.count("window")) throw MciError{mci_err::kMissingParameter};
    ret = std::to_string(r[0]) + " " + std::to_string(r[1]) + " " + std::to_string(r[2]) + " " + std::to_string(r[3]);
    return done();
  }
  // window
  kw = MatchMciKeywords(cmd.args, kWindowGrammar);
  if (kw.count("state")) {
    const std::string state = LowerAscii(kw["state"]);
    if (state == "show" || state == "restore" || state == "maximize" || state == "normal") {
      d.windowShown = true;
    } else if (state == "hide" || state == "minimize" || state == "iconic") {
      d.windowShown = false;
    } else {
      throw MciError{mci_err::kBadConstant};
    }
  }
  if (!kw.count("state") && !kw.count("handle") && !kw.count("text")) throw MciError{mci_err::kMissingParameter};
  return done();
}

}  // namespace kv
