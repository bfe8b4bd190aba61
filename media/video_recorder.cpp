#include "media/video_recorder.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "media/capture_sink.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace kv {

namespace fs = std::filesystem;

namespace {

std::string AvText(int code) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, buf, sizeof buf);
  return buf;
}

struct Container {
  const char* format;  // FFmpeg's muxer
  bool lossless;
  const char* audioEncoder;
};

Container ContainerFor(const fs::path& file) {
  std::string ext = file.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  if (ext == ".mkv") return {"matroska", true, "pcm_s16le"};
  if (ext == ".mp4") return {"mp4", false, "aac"};
  if (ext == ".avi") return {"avi", false, "pcm_s16le"};
  throw RecordError("cannot record into " + file.string() + ": the extension must be .mp4, .mkv or .avi");
}

// Sound frames per encoded block where the encoder takes any size.
constexpr int kPcmBlock = 1024;

}  // namespace

struct VideoRecorder::State {
  fs::path file;
  std::mutex mutex;
  AVFormatContext* fmt = nullptr;
  AVCodecContext* video = nullptr;
  AVCodecContext* audio = nullptr;
  AVStream* videoStream = nullptr;
  AVStream* audioStream = nullptr;
  SwsContext* sws = nullptr;
  AVFrame* picture = nullptr;
  AVFrame* sound = nullptr;
  AVPacket* packet = nullptr;
  bool opened = false;  // the file exists on disk
  bool finished = false;
  std::string failure;  // the first write failure
  std::string codec;
  int width = 0, height = 0;  // the stage's
  std::vector<uint8_t> last;  // the last frame written, packed rows
  int64_t lastTick = -1;
  int64_t frames = 0;
  std::vector<float> pending;  // stereo sound not yet in a block
  int64_t soundPts = 0;

  ~State() {
    sws_freeContext(sws);
    av_frame_free(&picture);
    av_frame_free(&sound);
    av_packet_free(&packet);
    avcodec_free_context(&video);
    avcodec_free_context(&audio);
    if (fmt) {
      if (fmt->pb) avio_closep(&fmt->pb);
      avformat_free_context(fmt);
    }
    // A file that was not finished is not a recording.
    if (opened && !finished) {
      std::error_code ec;
      fs::remove(file, ec);
    }
  }

  void Fail(const std::string& what, int code) {
    if (failure.empty()) failure = what + " (" + AvText(code) + ")";
  }

  // Moves every packet the encoder has ready into the file.
  void Drain(AVCodecContext* cc, AVStream* st) {
    for (;;) {
      const int r = avcodec_receive_packet(cc, packet);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
      if (r < 0) return Fail("encoding failed", r);
      av_packet_rescale_ts(packet, cc->time_base, st->time_base);
      packet->stream_index = st->index;
      const int w = av_interleaved_write_frame(fmt, packet);
      if (w < 0) Fail("cannot write " + file.string(), w);
    }
  }

  void Encode(AVCodecContext* cc, AVStream* st, AVFrame* frame) {
    const int r = avcodec_send_frame(cc, frame);
    if (r < 0 && r != AVERROR_EOF) return Fail("encoding failed", r);
    Drain(cc, st);
  }

  int BlockFrames() const { return audio->frame_size > 0 ? audio->frame_size : kPcmBlock; }

  // One block of `count` frames from the front of `pending`, padded with silence.
  void EncodeSound(int count) {
    const int block = BlockFrames();
    if (av_frame_make_writable(sound) < 0) return Fail("encoding failed", AVERROR(ENOMEM));
    sound->nb_samples = audio->frame_size > 0 ? block : count;
    const size_t have = std::min(pending.size() / 2, size_t(count));
    if (audio->sample_fmt == AV_SAMPLE_FMT_S16) {
      auto* out = reinterpret_cast<int16_t*>(sound->data[0]);
      for (int i = 0; i < sound->nb_samples * 2; ++i)
        out[i] = size_t(i) < have * 2 ? SampleToPcm16(pending[size_t(i)]) : int16_t(0);
    } else {
      auto* left = reinterpret_cast<float*>(sound->data[0]);
      auto* right = reinterpret_cast<float*>(sound->data[1]);
      for (int i = 0; i < sound->nb_samples; ++i) {
        const bool in = size_t(i) < have;
        left[i] = in ? pending[size_t(i) * 2] : 0.0f;
        right[i] = in ? pending[size_t(i) * 2 + 1] : 0.0f;
      }
    }
    sound->pts = soundPts;
    soundPts += sound->nb_samples;
    pending.erase(pending.begin(), pending.begin() + ptrdiff_t(have * 2));
    Encode(audio, audioStream, sound);
  }

  void EncodePicture(const uint8_t* rows, ptrdiff_t stride, int64_t tick) {
    if (av_frame_make_writable(picture) < 0) return Fail("encoding failed", AVERROR(ENOMEM));
    if (sws) {
      // Sizes the encoder needs even are padded with black (limited-range YUV).
      if (picture->width != width || picture->height != height) {
        const int chromaRows = (picture->height + 1) / 2;
        for (int y = 0; y < picture->height; ++y)
          std::memset(picture->data[0] + y * picture->linesize[0], 16, size_t(picture->linesize[0]));
        for (int p = 1; p < 3; ++p)
          for (int y = 0; y < chromaRows; ++y)
            std::memset(picture->data[p] + y * picture->linesize[p], 128, size_t(picture->linesize[p]));
      }
      const uint8_t* src[4] = {rows, nullptr, nullptr, nullptr};
      const int lines[4] = {int(stride), 0, 0, 0};
      sws_scale(sws, src, lines, 0, height, picture->data, picture->linesize);
    } else {
      for (int y = 0; y < height; ++y)
        std::memcpy(picture->data[0] + y * picture->linesize[0], rows + y * stride, size_t(width) * 4);
    }
    picture->pts = tick;
    ++frames;
    Encode(video, videoStream, picture);
  }
};

std::string VideoRecorder::VideoEncoderFor(const fs::path& file) {
  if (ContainerFor(file).lossless) return "ffv1";
  return avcodec_find_encoder_by_name("libx264") ? "libx264" : "mpeg4";
}

VideoRecorder::VideoRecorder(const fs::path& file, int width, int height) : s_(std::make_unique<State>()) {
  State& s = *s_;
  // The encoders' own messages would go to standard error; ours carry the reason.
  av_log_set_level(AV_LOG_QUIET);
  const Container c = ContainerFor(file);
  if (width <= 0 || height <= 0) throw RecordError("cannot record a stage of no size");
  s.file = file;
  s.width = width, s.height = height;
  if (avformat_alloc_output_context2(&s.fmt, nullptr, c.format, file.c_str()) < 0 || !s.fmt)
    throw RecordError("cannot record into " + file.string() + ": no " + c.format + " writer");

  s.codec = VideoEncoderFor(file);
  const AVCodec* vc = avcodec_find_encoder_by_name(s.codec.c_str());
  if (!vc) throw RecordError("cannot record: no " + s.codec + " encoder");
  s.video = avcodec_alloc_context3(vc);
  if (!s.video) throw std::bad_alloc();
  const bool lossless = c.lossless;
  // Subsampled chroma needs even sizes; the lossless format keeps the stage's own.
  s.video->width = lossless ? width : (width + 1) & ~1;
  s.video->height = lossless ? height : (height + 1) & ~1;
  s.video->time_base = {1, kFramesPerSecond};
  s.video->framerate = {kFramesPerSecond, 1};
  s.video->pix_fmt = lossless ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_YUV420P;
  s.video->gop_size = kFramesPerSecond;
  s.video->max_b_frames = 0;
  s.video->thread_count = 1;
  if (s.codec == "libx264") {
    av_opt_set(s.video->priv_data, "preset", "veryfast", 0);
    av_opt_set(s.video->priv_data, "crf", "16", 0);
  } else if (s.codec == "mpeg4") {
    s.video->flags |= AV_CODEC_FLAG_QSCALE;
    s.video->global_quality = FF_QP2LAMBDA * 2;
  } else {
    s.video->level = 3;
  }
  if (s.fmt->oformat->flags & AVFMT_GLOBALHEADER) s.video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  int r = avcodec_open2(s.video, vc, nullptr);
  if (r < 0) throw RecordError("cannot start the " + s.codec + " encoder (" + AvText(r) + ")");
  s.videoStream = avformat_new_stream(s.fmt, nullptr);
  if (!s.videoStream) throw std::bad_alloc();
  s.videoStream->time_base = s.video->time_base;
  avcodec_parameters_from_context(s.videoStream->codecpar, s.video);

  const AVCodec* ac = avcodec_find_encoder_by_name(c.audioEncoder);
  if (!ac) throw RecordError(std::string("cannot record: no ") + c.audioEncoder + " encoder");
  s.audio = avcodec_alloc_context3(ac);
  if (!s.audio) throw std::bad_alloc();
  s.audio->sample_rate = int(Mixer::kRate);
  s.audio->time_base = {1, int(Mixer::kRate)};
  av_channel_layout_default(&s.audio->ch_layout, 2);
  s.audio->sample_fmt = std::string(c.audioEncoder) == "aac" ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S16;
  if (s.audio->sample_fmt == AV_SAMPLE_FMT_FLTP) s.audio->bit_rate = 192000;
  if (s.fmt->oformat->flags & AVFMT_GLOBALHEADER) s.audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  r = avcodec_open2(s.audio, ac, nullptr);
  if (r < 0) throw RecordError(std::string("cannot start the ") + c.audioEncoder + " encoder (" + AvText(r) + ")");
  s.audioStream = avformat_new_stream(s.fmt, nullptr);
  if (!s.audioStream) throw std::bad_alloc();
  s.audioStream->time_base = s.audio->time_base;
  avcodec_parameters_from_context(s.audioStream->codecpar, s.audio);

  s.picture = av_frame_alloc();
  s.sound = av_frame_alloc();
  s.packet = av_packet_alloc();
  if (!s.picture || !s.sound || !s.packet) throw std::bad_alloc();
  s.picture->format = s.video->pix_fmt;
  s.picture->width = s.video->width;
  s.picture->height = s.video->height;
  if (av_frame_get_buffer(s.picture, 0) < 0) throw std::bad_alloc();
  s.sound->format = s.audio->sample_fmt;
  s.sound->sample_rate = s.audio->sample_rate;
  av_channel_layout_copy(&s.sound->ch_layout, &s.audio->ch_layout);
  s.sound->nb_samples = s.BlockFrames();
  if (av_frame_get_buffer(s.sound, 0) < 0) throw std::bad_alloc();
  if (!lossless) {
    s.sws = sws_getContext(width, height, AV_PIX_FMT_BGR0, width, height, s.video->pix_fmt, SWS_BICUBIC, nullptr,
                           nullptr, nullptr);
    if (!s.sws) throw RecordError("cannot convert the stage's pixels for " + s.codec);
  }

  r = avio_open(&s.fmt->pb, file.c_str(), AVIO_FLAG_WRITE);
  if (r < 0) throw RecordError("cannot write " + file.string() + " (" + AvText(r) + ")");
  s.opened = true;
  r = avformat_write_header(s.fmt, nullptr);
  if (r < 0) throw RecordError("cannot write " + file.string() + " (" + AvText(r) + ")");
}

VideoRecorder::~VideoRecorder() = default;

const std::string& VideoRecorder::VideoCodec() const { return s_->codec; }

int64_t VideoRecorder::FramesWritten() const {
  std::lock_guard lock(s_->mutex);
  return s_->frames;
}

void VideoRecorder::Write(const float* stereo, size_t frames) {
  State& s = *s_;
  std::lock_guard lock(s.mutex);
  if (s.finished) return;
  s.pending.insert(s.pending.end(), stereo, stereo + frames * 2);
  const size_t block = size_t(s.BlockFrames());
  while (s.pending.size() / 2 >= block) s.EncodeSound(int(block));
}

void VideoRecorder::AddFrame(int64_t tick, const uint8_t* pixels, ptrdiff_t stride) {
  State& s = *s_;
  std::lock_guard lock(s.mutex);
  if (s.finished || tick <= s.lastTick) return;
  const size_t row = size_t(s.width) * 4;
  // Only a changed stage makes a frame; the unused byte does not count.
  bool same = !s.last.empty();
  for (int y = 0; same && y < s.height; ++y) {
    const uint8_t* a = pixels + y * stride;
    const uint8_t* b = s.last.data() + size_t(y) * row;
    for (size_t i = 0; i < row; i += 4)
      if (a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2]) {
        same = false;
        break;
      }
  }
  if (same) return;
  s.last.resize(row * size_t(s.height));
  for (int y = 0; y < s.height; ++y) std::memcpy(s.last.data() + size_t(y) * row, pixels + y * stride, row);
  s.lastTick = tick;
  s.EncodePicture(pixels, stride, tick);
}

void VideoRecorder::Finish(int64_t endMs) {
  State& s = *s_;
  std::lock_guard lock(s.mutex);
  if (s.finished) return;
  // The last picture lasts to the end: it is given again at the end's tick.
  const int64_t endTick = std::max<int64_t>(TickAt(endMs), s.lastTick + 1);
  if (!s.last.empty()) s.EncodePicture(s.last.data(), ptrdiff_t(s.width) * 4, endTick);
  while (!s.pending.empty()) s.EncodeSound(int(std::min(s.pending.size() / 2, size_t(s.BlockFrames()))));
  s.Encode(s.video, s.videoStream, nullptr);
  s.Encode(s.audio, s.audioStream, nullptr);
  int r = av_write_trailer(s.fmt);
  if (r < 0) s.Fail("cannot finish " + s.file.string(), r);
  r = avio_closep(&s.fmt->pb);
  if (r < 0) s.Fail("cannot close " + s.file.string(), r);
  if (!s.failure.empty()) {
    // Removed by the state: a half-written recording is no recording.
    throw RecordError(s.failure);
  }
  s.finished = true;
}

}  // namespace kv
