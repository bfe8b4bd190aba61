#include "media/movie_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace kv {

namespace fs = std::filesystem;

namespace {

constexpr int kIoBufferSize = 32 * 1024;
// Packets read without a frame coming out before the stream counts as ended
// (a hostile file must not keep the decoder busy for ever).
constexpr int kMaxFruitlessPackets = 20000;

std::string AvText(int code) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, buf, sizeof buf);
  return buf;
}

// Where the bytes come from: a file read on demand, or memory. Each opening
// reads through its own cursor.
struct ByteSource {
  fs::path file;
  std::shared_ptr<const std::vector<uint8_t>> memory;
};

struct Reader {
  std::ifstream in;
  std::shared_ptr<const std::vector<uint8_t>> memory;
  int64_t pos = 0;
  int64_t size = 0;

  static int Read(void* opaque, uint8_t* buf, int size) {
    auto* r = static_cast<Reader*>(opaque);
    if (r->memory) {
      const int64_t left = r->size - r->pos;
      if (left <= 0) return AVERROR_EOF;
      const int n = static_cast<int>(std::min<int64_t>(left, size));
      std::memcpy(buf, r->memory->data() + r->pos, size_t(n));
      r->pos += n;
      return n;
    }
    r->in.clear();
    r->in.seekg(r->pos);
    r->in.read(reinterpret_cast<char*>(buf), size);
    const auto n = static_cast<int>(r->in.gcount());
    if (n <= 0) return AVERROR_EOF;
    r->pos += n;
    return n;
  }

  static int64_t Seek(void* opaque, int64_t offset, int whence) {
    auto* r = static_cast<Reader*>(opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) return r->size;
    int64_t to = offset;
    if (whence == SEEK_CUR) to = r->pos + offset;
    if (whence == SEEK_END) to = r->size + offset;
    if (to < 0) return AVERROR(EINVAL);
    r->pos = to;
    return to;
  }
};

// Nested files (playlists, concatenation lists, image sequences) are never
// opened: a movie is the one file it was given.
int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) { return AVERROR(EPERM); }

// An opened container: reader, I/O context and the demuxer.
struct Container {
  Reader reader;
  AVIOContext* io = nullptr;
  AVFormatContext* fmt = nullptr;

  ~Container() {
    if (fmt) avformat_close_input(&fmt);
    if (io) {
      av_freep(&io->buffer);
      avio_context_free(&io);
    }
  }

  void Open(const ByteSource& source) {
    // FFmpeg's own messages would go to standard error; ours carry the reason.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    if (source.memory) {
      reader.memory = source.memory;
      reader.size = int64_t(source.memory->size());
    } else {
      reader.in.open(source.file, std::ios::binary);
      if (!reader.in) throw MovieError(MovieError::Kind::kNotFound, "cannot be read");
      reader.in.seekg(0, std::ios::end);
      reader.size = int64_t(reader.in.tellg());
    }
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (!buffer) throw std::bad_alloc();
    io = avio_alloc_context(buffer, kIoBufferSize, 0, &reader, &Reader::Read, nullptr, &Reader::Seek);
    if (!io) {
      av_free(buffer);
      throw std::bad_alloc();
    }
    fmt = avformat_alloc_context();
    if (!fmt) throw std::bad_alloc();
    fmt->pb = io;
    fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
    fmt->io_open = &RefuseNestedOpen;
    const int r = avformat_open_input(&fmt, nullptr, nullptr, nullptr);
    if (r < 0) {
      fmt = nullptr;  // freed by the failed open
      throw MovieError(MovieError::Kind::kUnreadable, "not a movie FFmpeg can read (" + AvText(r) + ")");
    }
    // The probing decoders get the same bound on picture size as ours.
    std::vector<AVDictionary*> opts(fmt->nb_streams, nullptr);
    for (auto& o : opts) av_dict_set_int(&o, "max_pixels", int64_t(MovieDecoder::kMaxSide) * MovieDecoder::kMaxSide, 0);
    const int info = avformat_find_stream_info(fmt, opts.empty() ? nullptr : opts.data());
    for (auto& o : opts) av_dict_free(&o);
    if (info < 0) throw MovieError(MovieError::Kind::kUnreadable, "its streams cannot be read (" + AvText(info) + ")");
  }
};

// Refuses a frame too large before its buffer is allocated.
int BoundedBuffer(AVCodecContext* cc, AVFrame* frame, int flags) {
  if (frame->width > MovieDecoder::kMaxSide || frame->height > MovieDecoder::kMaxSide) return AVERROR(ERANGE);
  return avcodec_default_get_buffer2(cc, frame, flags);
}

AVCodecContext* OpenDecoder(AVStream* st, const char* what) {
  const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
  if (!codec) {
    throw MovieError(MovieError::Kind::kNoCodec,
                     std::string("no decoder for its ") + what + " codec (" + avcodec_get_name(st->codecpar->codec_id) + ")");
  }
  AVCodecContext* cc = avcodec_alloc_context3(codec);
  if (!cc) throw std::bad_alloc();
  if (avcodec_parameters_to_context(cc, st->codecpar) < 0) {
    avcodec_free_context(&cc);
    throw MovieError(MovieError::Kind::kUnreadable, std::string("its ") + what + " stream is damaged");
  }
  cc->pkt_timebase = st->time_base;
  // The movie has its own thread; more per movie would only add latency.
  cc->thread_count = 1;
  cc->thread_type = FF_THREAD_SLICE;
  cc->max_pixels = int64_t(MovieDecoder::kMaxSide) * MovieDecoder::kMaxSide;
  cc->get_buffer2 = &BoundedBuffer;
  const int r = avcodec_open2(cc, codec, nullptr);
  if (r < 0) {
    avcodec_free_context(&cc);
    throw MovieError(MovieError::Kind::kNoCodec, std::string("its ") + what + " decoder cannot start (" + AvText(r) + ")");
  }
  return cc;
}

// The next frame of stream `index` into `frame`, reading and sending packets
// as the decoder asks; false at the end. A damaged packet is skipped (the
// frames after it may still decode); too many packets without a frame end
// the stream, so a hostile file cannot keep the decoder busy for ever.
bool NextFrame(AVFormatContext* fmt, AVCodecContext* cc, int index, AVPacket* packet, AVFrame* frame, bool& draining) {
  for (int fruitless = 0; fruitless < kMaxFruitlessPackets;) {
    const int r = avcodec_receive_frame(cc, frame);
    if (r == 0) return true;
    if (r != AVERROR(EAGAIN) || draining) return false;
    if (av_read_frame(fmt, packet) < 0) {
      draining = true;
      avcodec_send_packet(cc, nullptr);
      continue;
    }
    if (packet->stream_index == index) {
      avcodec_send_packet(cc, packet);
      ++fruitless;
    }
    av_packet_unref(packet);
  }
  return false;
}

}  // namespace

int64_t MovieFrameAt(int64_t ms, double rate) {
  if (ms <= 0 || rate <= 0) return 0;
  return static_cast<int64_t>(std::floor(double(ms) * rate / 1000.0 + 1e-9));
}

int64_t MovieMsOfFrame(int64_t frame, double rate) {
  if (frame <= 0 || rate <= 0) return 0;
  return static_cast<int64_t>(std::ceil(double(frame) * 1000.0 / rate - 1e-9));
}

struct DecodedFrame {
  AVFrame* frame = nullptr;
  int64_t startMs = 0;
  int64_t index = 0;
};

struct MovieDecoder::State {
  ByteSource source;
  Container container;
  int videoIndex = -1;
  AVStream* stream = nullptr;
  AVCodecContext* codec = nullptr;
  AVPacket* packet = nullptr;
  int64_t origin = 0;  // the video stream's first time, in its time base
  double rate = 25;
  bool draining = false;
  bool ended = false;
  DecodedFrame cur, next;
  bool haveNext = false;
  int64_t lastTs = INT64_MIN;
  SwsContext* sws = nullptr;
  MoviePicture picture;
  bool pictureFresh = false;
  std::shared_ptr<const SoundBuffer> sound;
  bool soundDecoded = false;

  ~State() {
    av_frame_free(&cur.frame);
    av_frame_free(&next.frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    sws_freeContext(sws);
  }

  // Decodes the next frame into `out`; false at the end of the stream.
  bool Decode(DecodedFrame& out) {
    if (ended || !codec) return false;
    if (NextFrame(container.fmt, codec, videoIndex, packet, out.frame, draining)) {
      Stamp(out);
      return true;
    }
    ended = true;
    return false;
  }

  void Stamp(DecodedFrame& f) {
    int64_t ts = f.frame->best_effort_timestamp;
    const AVRational tb = stream->time_base;
    if (ts == AV_NOPTS_VALUE) {
      // No time: one nominal frame after the last one.
      ts = lastTs == INT64_MIN ? origin : lastTs + std::max<int64_t>(1, av_rescale_q(1, av_inv_q(av_d2q(rate, 100000)), tb));
    }
    ts = std::max(ts, lastTs == INT64_MIN ? ts : lastTs);  // times never go back
    lastTs = ts;
    const int64_t rel = std::max<int64_t>(0, ts - origin);
    f.startMs = av_rescale_rnd(rel, int64_t(tb.num) * 1000, tb.den, AV_ROUND_UP);
    f.index = std::llround(double(rel) * tb.num / tb.den * rate);
  }

  void Restart() {
    if (!codec) return;  // sound only: nothing to rewind
    av_seek_frame(container.fmt, videoIndex, origin, AVSEEK_FLAG_BACKWARD);
    avcodec_flush_buffers(codec);
    draining = ended = false;
    lastTs = INT64_MIN;
    haveNext = false;
    if (!Decode(cur)) throw MovieError(MovieError::Kind::kNoFrames, "it holds no frames");
    haveNext = Decode(next);
    pictureFresh = false;
  }
};

MovieDecoder::MovieDecoder(std::unique_ptr<State> state) : s_(std::move(state)) {}
MovieDecoder::~MovieDecoder() = default;

std::unique_ptr<MovieDecoder> MovieDecoder::OpenFile(const fs::path& file, MovieTracks tracks) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) throw MovieError(MovieError::Kind::kNotFound, "not found");
  auto s = std::make_unique<State>();
  s->source.file = file;
  std::unique_ptr<MovieDecoder> d(new MovieDecoder(std::move(s)));
  d->Start(tracks);
  return d;
}

std::unique_ptr<MovieDecoder> MovieDecoder::OpenBytes(std::span<const uint8_t> bytes, MovieTracks tracks) {
  auto s = std::make_unique<State>();
  s->source.memory = std::make_shared<const std::vector<uint8_t>>(bytes.begin(), bytes.end());
  std::unique_ptr<MovieDecoder> d(new MovieDecoder(std::move(s)));
  d->Start(tracks);
  return d;
}

void MovieDecoder::Start(MovieTracks tracks) {
  State& s = *s_;
  s.container.Open(s.source);
  AVFormatContext* fmt = s.container.fmt;
  const int audio = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  s.videoIndex = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (tracks == MovieTracks::kSoundOnly || (s.videoIndex < 0 && tracks == MovieTracks::kPictureOrSound)) {
    StartSoundOnly(audio);
    return;
  }
  if (s.videoIndex < 0) throw MovieError(MovieError::Kind::kNoVideo, "it has no video stream");
  s.stream = fmt->streams[s.videoIndex];
  const AVCodecParameters* par = s.stream->codecpar;
  if (par->width > kMaxSide || par->height > kMaxSide) {
    throw MovieError(MovieError::Kind::kTooLarge, "its frames (" + std::to_string(par->width) + " x " +
                                                      std::to_string(par->height) + ") are larger than " +
                                                      std::to_string(kMaxSide) + " pixels a side");
  }
  s.codec = OpenDecoder(s.stream, "video");
  s.packet = av_packet_alloc();
  s.cur.frame = av_frame_alloc();
  s.next.frame = av_frame_alloc();
  if (!s.packet || !s.cur.frame || !s.next.frame) throw std::bad_alloc();
  s.origin = s.stream->start_time != AV_NOPTS_VALUE ? s.stream->start_time : 0;
  const AVRational guessed = av_guess_frame_rate(fmt, s.stream, nullptr);
  if (guessed.num > 0 && guessed.den > 0) s.rate = av_q2d(guessed);
  if (!(s.rate > 0 && s.rate < 10000)) s.rate = 25;

  if (!s.Decode(s.cur)) throw MovieError(MovieError::Kind::kNoFrames, "it holds no frames");
  s.haveNext = s.Decode(s.next);
  if (s.cur.frame->width <= 0 || s.cur.frame->height <= 0)
    throw MovieError(MovieError::Kind::kUnreadable, "its frames have no size");

  info_.width = s.cur.frame->width;
  info_.height = s.cur.frame->height;
  info_.frameRate = s.rate;
  if (s.stream->duration != AV_NOPTS_VALUE && s.stream->duration > 0) {
    info_.lengthMs = av_rescale_q(s.stream->duration, s.stream->time_base, {1, 1000});
  } else if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0) {
    info_.lengthMs = av_rescale_q(fmt->duration, {1, AV_TIME_BASE}, {1, 1000});
  }
  info_.frameCount = s.stream->nb_frames > 0 ? s.stream->nb_frames : MovieFrameAt(info_.lengthMs, s.rate);
  if (info_.frameCount <= 0) info_.frameCount = 1;
  if (info_.lengthMs <= 0) info_.lengthMs = MovieMsOfFrame(info_.frameCount, s.rate);
  info_.format = fmt->iformat ? fmt->iformat->name : "";
  info_.codec = avcodec_get_name(par->codec_id);
  info_.hasAudio = audio >= 0 && avcodec_find_decoder(fmt->streams[audio]->codecpar->codec_id) != nullptr;
  info_.hasPicture = true;
  SetOutput(info_.width, info_.height, MoviePixels::kXrgb32);
}

// No frame is decoded: the one "frame" is empty and the length is the sound's,
// decoded now so that a file whose sound cannot be read is refused here.
void MovieDecoder::StartSoundOnly(int audioIndex) {
  State& s = *s_;
  AVFormatContext* fmt = s.container.fmt;
  if (audioIndex < 0) throw MovieError(MovieError::Kind::kNoVideo, "it has neither pictures nor sound");
  const AVStream* st = fmt->streams[audioIndex];
  if (!avcodec_find_decoder(st->codecpar->codec_id)) {
    throw MovieError(MovieError::Kind::kNoCodec,
                     std::string("no decoder for its sound codec (") + avcodec_get_name(st->codecpar->codec_id) + ")");
  }
  s.videoIndex = -1;
  info_.hasAudio = true;
  info_.format = fmt->iformat ? fmt->iformat->name : "";
  info_.codec = avcodec_get_name(st->codecpar->codec_id);
  std::shared_ptr<const SoundBuffer> sound = Sound();
  if (!sound) throw MovieError(MovieError::Kind::kNoFrames, "its sound holds no samples");
  const uint64_t frames = sound->Frames();
  info_.lengthMs = int64_t((frames * 1000 + Mixer::kRate - 1) / Mixer::kRate);
  info_.frameCount = 0;
  s.picture = {};
  s.pictureFresh = true;
}

void MovieDecoder::SetOutput(int width, int height, MoviePixels format) {
  if (!info_.hasPicture) return;
  width = std::clamp(width, 1, kMaxSide);
  height = std::clamp(height, 1, kMaxSide);
  MoviePicture& p = s_->picture;
  if (p.width == width && p.height == height && p.format == format && !p.bits.empty()) return;
  p.width = width, p.height = height, p.format = format;
  p.bits.assign(size_t(p.Stride()) * size_t(height), 0);
  s_->pictureFresh = false;
}

void MovieDecoder::SeekTo(int64_t ms) {
  State& s = *s_;
  if (ms < s.cur.startMs) s.Restart();
  AdvanceTo(ms);
}

bool MovieDecoder::AdvanceTo(int64_t ms) {
  State& s = *s_;
  bool changed = false;
  while (s.haveNext && s.next.startMs <= ms) {
    std::swap(s.cur, s.next);
    changed = true;
    s.haveNext = s.Decode(s.next);
  }
  if (changed) s.pictureFresh = false;
  return changed;
}

int64_t MovieDecoder::CurrentMs() const { return s_->cur.startMs; }
int64_t MovieDecoder::NextMs() const { return s_->haveNext ? s_->next.startMs : kNoNext; }
int64_t MovieDecoder::CurrentFrame() const { return s_->cur.index; }

const MoviePicture& MovieDecoder::Current() {
  State& s = *s_;
  MoviePicture& p = s.picture;
  if (s.pictureFresh || !info_.hasPicture) return p;
  const AVFrame* f = s.cur.frame;
  const AVPixelFormat out = p.format == MoviePixels::kXrgb32 ? AV_PIX_FMT_BGRA : AV_PIX_FMT_RGB565LE;
  s.sws = sws_getCachedContext(s.sws, f->width, f->height, static_cast<AVPixelFormat>(f->format), p.width, p.height,
                               out, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!s.sws) {
    // A pixel layout swscale cannot take: the frame shows black.
    std::fill(p.bits.begin(), p.bits.end(), 0);
  } else {
    uint8_t* dst[4] = {p.bits.data(), nullptr, nullptr, nullptr};
    int lines[4] = {p.Stride(), 0, 0, 0};
    sws_scale(s.sws, f->data, f->linesize, 0, f->height, dst, lines);
  }
  if (p.format == MoviePixels::kXrgb32) {
    // The stage's unused byte is always 0xFF, whatever alpha the movie had.
    for (size_t i = 3; i < p.bits.size(); i += 4) p.bits[i] = 0xFF;
  }
  s.pictureFresh = true;
  return p;
}

std::shared_ptr<const SoundBuffer> MovieDecoder::Sound() {
  State& s = *s_;
  if (s.soundDecoded) return s.sound;
  s.soundDecoded = true;
  if (!info_.hasAudio) return nullptr;
  // A second demuxer over the same bytes: the video's reading order stays its own.
  Container c;
  c.Open(s.source);
  const int index = av_find_best_stream(c.fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (index < 0) return nullptr;
  AVStream* st = c.fmt->streams[index];
  AVCodecContext* cc = OpenDecoder(st, "sound");
  SwrContext* swr = nullptr;
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  auto buffer = std::make_shared<SoundBuffer>();
  buffer->channels = 2;
  buffer->sampleRate = Mixer::kRate;
  std::vector<float>& out = buffer->samples;
  bool placed = false, draining = false;
  int inFormat = -1, inRate = 0, inChannels = 0;
  int64_t skip = 0;  // frames to drop where the sound starts before the picture
  int channels = 2;
  auto convert = [&](const uint8_t** in, int count) {
    const int room = swr_get_out_samples(swr, count);
    if (room <= 0) return;
    std::vector<float> block(size_t(room) * size_t(channels));
    uint8_t* dst[1] = {reinterpret_cast<uint8_t*>(block.data())};
    const int got = swr_convert(swr, dst, room, in, count);
    if (got <= 0) return;
    const int64_t from = std::min<int64_t>(skip, got);
    skip -= from;
    const size_t n =
        std::min(size_t(got - from) * size_t(channels), kMaxAudioSamples - std::min(kMaxAudioSamples, out.size()));
    const auto first = block.begin() + from * channels;
    out.insert(out.end(), first, first + ptrdiff_t(n));
  };
  try {
    if (!pkt || !frame) throw std::bad_alloc();
    while (out.size() < kMaxAudioSamples && NextFrame(c.fmt, cc, index, pkt, frame, draining)) {
      // The resampler reads what it was set up for: a frame of another
      // layout, format or rate (a damaged stream) ends the sound there.
      if (swr && (frame->format != inFormat || frame->sample_rate != inRate ||
                  frame->ch_layout.nb_channels != inChannels))
        break;
      if (!swr) {
        inFormat = frame->format, inRate = frame->sample_rate, inChannels = frame->ch_layout.nb_channels;
        if (inChannels <= 0) break;
        AVChannelLayout in{};
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
          av_channel_layout_default(&in, inChannels);
        else if (av_channel_layout_copy(&in, &frame->ch_layout) < 0)
          break;
        // Mono stays mono: the mixer plays it on both sides at full level.
        channels = in.nb_channels == 1 ? 1 : 2;
        AVChannelLayout outLayout{};
        av_channel_layout_default(&outLayout, channels);
        buffer->channels = channels;
        if (frame->sample_rate <= 0 ||
            swr_alloc_set_opts2(&swr, &outLayout, AV_SAMPLE_FMT_FLT, Mixer::kRate, &in,
                                static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr) < 0 ||
            swr_init(swr) < 0) {
          av_channel_layout_uninit(&in);
          break;
        }
        av_channel_layout_uninit(&in);
      }
      if (!placed) {
        placed = true;
        // The first sound frame's time against the picture's start.
        const int64_t ts = frame->best_effort_timestamp;
        if (ts != AV_NOPTS_VALUE) {
          // Sound only, time 0 is the sound's own start.
          const int64_t at = s.stream ? av_rescale_q(ts, st->time_base, {1, int(Mixer::kRate)}) -
                                            av_rescale_q(s.origin, s.stream->time_base, {1, int(Mixer::kRate)})
                                      : 0;
          if (at > 0) out.assign(size_t(std::min<int64_t>(at, int64_t(kMaxAudioSamples / 2))) * size_t(channels), 0.0f);
          if (at < 0) skip = -at;
        }
      }
      convert(const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    }
    if (swr && swr_is_initialized(swr)) convert(nullptr, 0);
  } catch (...) {
    swr_free(&swr);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&cc);
    throw;
  }
  swr_free(&swr);
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&cc);
  if (buffer->Frames() > 0) s.sound = std::move(buffer);
  return s.sound;
}

}  // namespace kv
