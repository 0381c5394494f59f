// The movie decoder over FFmpeg: libavformat's MPEG program-stream demuxer
// reading through a custom I/O context from a MovieSource, libavcodec held
// to MPEG-1 video and MPEG audio by whitelists, libswscale into 32-bit
// pixels by the frame's own line sizes, libswresample into 16-bit samples.
// It decodes on the caller's thread, exactly as far as it is asked, so the
// headless engine steps through a movie frame by frame on the virtual clock.
// Lacks: hardware decoding (MPEG-1 needs none).
#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include "platform/video/movie.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace plat {
namespace {

constexpr int kIoBufferSize = 32 * 1024;

int ReadPacket(void* opaque, uint8_t* buf, int n) {
  auto* src = static_cast<MovieSource*>(opaque);
  int got = src->Read(buf, n);
  if (got < 0) return AVERROR(EIO);
  if (got == 0) return AVERROR_EOF;
  return got;
}

int64_t SeekPacket(void* opaque, int64_t offset, int whence) {
  auto* src = static_cast<MovieSource*>(opaque);
  whence &= ~AVSEEK_FORCE;
  int64_t target;
  switch (whence) {
    case AVSEEK_SIZE: return src->Size();
    case SEEK_SET: target = offset; break;
    case SEEK_CUR: target = src->Position() + offset; break;
    case SEEK_END: target = src->Size() + offset; break;
    default: return -1;
  }
  if (!src->SetPointer(target)) return -1;
  return target;
}

class FfmpegMovie final : public MovieDecoder {
 public:
  FfmpegMovie(std::unique_ptr<MovieSource> source, MovieAudioSink sink, void* user)
      : source_(std::move(source)), sink_(sink), user_(user) {}
  ~FfmpegMovie() override {
    DropHeld();
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    av_frame_free(&current_);
    avcodec_free_context(&video_);
    avcodec_free_context(&audio_);
    sws_freeContext(sws_);
    swr_free(&swr_);
    av_channel_layout_uninit(&swrLayout_);
    if (format_) avformat_close_input(&format_);
    if (io_) {
      av_freep(&io_->buffer);
      avio_context_free(&io_);
    }
  }

  bool Open(std::string* error) {
    auto* ioBuffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (!ioBuffer) return Fail(error, "out of memory");
    io_ = avio_alloc_context(ioBuffer, kIoBufferSize, 0, source_.get(), ReadPacket, nullptr, SeekPacket);
    if (!io_) {
      av_free(ioBuffer);
      return Fail(error, "out of memory");
    }
    format_ = avformat_alloc_context();
    if (!format_) return Fail(error, "out of memory");
    format_->pb = io_;
    // A packet the file cuts short is dropped, never decoded into garbage.
    format_->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_DISCARD_CORRUPT;
    format_->format_whitelist = av_strdup("mpeg");
    format_->codec_whitelist = av_strdup("mpeg1video,mpeg2video,mp1,mp2,mp3,mp1float,mp2float,mp3float");
    const AVInputFormat* ps = av_find_input_format("mpeg");
    if (!ps) return Fail(error, "no MPEG program stream demuxer");
    // The probe must still recognise a system stream: the forced format
    // alone would take any bytes.
    uint8_t head[16] = {};
    source_->SetPointer(0);
    int got = source_->Read(head, sizeof head);
    source_->SetPointer(0);
    if (got < 4 || head[0] != 0 || head[1] != 0 || head[2] != 1 || head[3] != 0xBA)
      return Fail(error, "not an MPEG system stream");
    if (avformat_open_input(&format_, nullptr, ps, nullptr) < 0) {
      format_ = nullptr;  // freed by the failed open
      return Fail(error, "unreadable system stream");
    }
    if (avformat_find_stream_info(format_, nullptr) < 0) return Fail(error, "no stream information");
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
      const AVCodecParameters* p = format_->streams[i]->codecpar;
      if (p->codec_type == AVMEDIA_TYPE_VIDEO && videoIndex_ < 0) {
        // The demuxer cannot tell MPEG-1 from MPEG-2 video by the stream id;
        // the first decoded picture's sequence header decides below.
        if (p->codec_id != AV_CODEC_ID_MPEG1VIDEO && p->codec_id != AV_CODEC_ID_MPEG2VIDEO)
          return Fail(error, "video is not MPEG-1");
        videoIndex_ = static_cast<int>(i);
      } else if (p->codec_type == AVMEDIA_TYPE_AUDIO && audioIndex_ < 0 &&
                 (p->codec_id == AV_CODEC_ID_MP1 || p->codec_id == AV_CODEC_ID_MP2 ||
                  p->codec_id == AV_CODEC_ID_MP3)) {
        audioIndex_ = static_cast<int>(i);
      }
    }
    if (videoIndex_ < 0) return Fail(error, "no MPEG-1 video stream");
    if (!OpenCodec(videoIndex_, &video_)) return Fail(error, "video decoder");
    if (video_->width <= 0 || video_->height <= 0 || video_->width > 4096 || video_->height > 4096)
      return Fail(error, "bad picture size");
    if (audioIndex_ >= 0 && !OpenCodec(audioIndex_, &audio_)) audioIndex_ = -1;  // silent then
    info_.width = video_->width;
    info_.height = video_->height;
    AVStream* vs = format_->streams[videoIndex_];
    AVRational rate = vs->avg_frame_rate.num > 0 ? vs->avg_frame_rate : vs->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = video_->framerate;
    if (rate.num > 0 && rate.den > 0) info_.frameTime = av_rescale(10000000, rate.den, rate.num);
    if (format_->duration > 0) info_.duration = format_->duration * 10;
    if (audio_) {
      info_.hasAudio = true;
      info_.sampleRate = audio_->sample_rate;
      info_.channels = std::min(2, std::max(1, audio_->ch_layout.nb_channels));
    }
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    current_ = av_frame_alloc();
    if (!packet_ || !frame_ || !current_) return Fail(error, "out of memory");
    if (Advance(0) <= 0) return Fail(error, "no decodable frame");
    if (video_->codec_id != AV_CODEC_ID_MPEG1VIDEO) return Fail(error, "video is not MPEG-1");
    return true;
  }

  const MovieInfo& Info() const override { return info_; }
  int64_t CurrentIndex() const override { return currentIndex_; }

  int Advance(int64_t index) override {
    if (index < 0) index = 0;
    if (index < currentIndex_ && !Rewind(index)) return -1;
    while (currentIndex_ < index && !ended_) {
      int r = DecodeOne();
      if (r < 0) return -1;
    }
    ReadSoundAhead(index);
    if (currentIndex_ < 0) return ended_ ? 0 : -1;
    return currentIndex_ >= index ? 1 : 0;
  }

  bool CopyFrame(uint32_t* dst, int pitchWords) override {
    return CopyFrameScaled(dst, info_.width, info_.height, pitchWords);
  }

  bool CopyFrameScaled(uint32_t* dst, int w, int h, int pitchWords) override {
    if (!dst || currentIndex_ < 0 || w <= 0 || h <= 0 || pitchWords < w) return false;
    // Frames of another size than the stream's are dropped when decoded,
    // so the current one always matches the conversion below.
    sws_ = sws_getCachedContext(sws_, current_->width, current_->height,
                                static_cast<AVPixelFormat>(current_->format), w, h, AV_PIX_FMT_BGRA,
                                SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws_) return false;
    // libswscale's vector code works in groups of pixels and may write past
    // the end of a row (and so of the last one) up to the next group. A row
    // of whole groups, aligned, leaves nothing past it: the frame converts
    // straight into dst. Any other converts into rows padded for that, then
    // whole rows go to dst.
    const bool unscaled = w == current_->width && h == current_->height;
    const bool aligned = reinterpret_cast<uintptr_t>(dst) % 16 == 0 && pitchWords % 4 == 0;
    if (unscaled && aligned && w % 32 == 0) {
      uint8_t* planes[4] = {reinterpret_cast<uint8_t*>(dst), nullptr, nullptr, nullptr};
      int lines[4] = {pitchWords * 4, 0, 0, 0};
      return sws_scale(sws_, current_->data, current_->linesize, 0, current_->height, planes, lines) == h;
    }
    const int padded = (w + 31) / 32 * 32 + 32;
    scratch_.resize(static_cast<size_t>(padded) * (h + 1));
    uint8_t* planes[4] = {reinterpret_cast<uint8_t*>(scratch_.data()), nullptr, nullptr, nullptr};
    int lines[4] = {padded * 4, 0, 0, 0};
    if (sws_scale(sws_, current_->data, current_->linesize, 0, current_->height, planes, lines) != h) return false;
    // libswscale writes opaque alpha (0xFF) for a source without alpha.
    for (int y = 0; y < h; ++y)
      std::memcpy(dst + static_cast<size_t>(y) * pitchWords, scratch_.data() + static_cast<size_t>(y) * padded,
                  static_cast<size_t>(w) * 4);
    return true;
  }

 private:
  static bool Fail(std::string* error, const char* why) {
    if (error) *error = why;
    return false;
  }

  bool OpenCodec(int stream, AVCodecContext** out) {
    const AVCodecParameters* p = format_->streams[stream]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(p->codec_id);
    if (!codec) return false;
    AVCodecContext* c = avcodec_alloc_context3(codec);
    if (!c) return false;
    *out = c;
    if (avcodec_parameters_to_context(c, p) < 0) return false;
    c->thread_count = 1;
    if (avcodec_open2(c, codec, nullptr) < 0) return false;
    return true;
  }

  bool Rewind(int64_t target) {
    if (av_seek_frame(format_, -1, 0, AVSEEK_FLAG_BYTE | AVSEEK_FLAG_BACKWARD) < 0) {
      if (!source_->SetPointer(0) || avio_seek(io_, 0, SEEK_SET) < 0) return false;
      avformat_flush(format_);
    }
    avcodec_flush_buffers(video_);
    if (audio_) avcodec_flush_buffers(audio_);
    decodedFrames_ = 0;
    currentIndex_ = -1;
    ended_ = false;
    DropHeld();
    readEnd_ = false;
    audioUntil_ = 0;
    draining_ = false;
    // Audio before the frame the movie resumes at is not played again.
    audioFrom_ = info_.frameTime > 0 ? target * info_.frameTime : 0;
    return true;
  }

  // Takes one decoded video frame; returns 1 for a frame, 0 when the
  // decoder needs input, -1 at the end.
  int ReceiveVideo() {
    int r = avcodec_receive_frame(video_, frame_);
    if (r == AVERROR(EAGAIN)) return 0;
    if (r < 0) return -1;
    const int64_t index = decodedFrames_++;
    if (frame_->width == info_.width && frame_->height == info_.height) {
      av_frame_unref(current_);
      av_frame_move_ref(current_, frame_);
      currentIndex_ = index;
    } else {
      av_frame_unref(frame_);
    }
    return 1;
  }

  // Decodes until one more video frame exists or the stream ends. 1, or -1
  // on an error that ends decoding.
  int DecodeOne() {
    for (;;) {
      int r = ReceiveVideo();
      if (r == 1) return 1;
      if (r < 0) {
        ended_ = true;
        return 1;
      }
      if (draining_) {
        ended_ = true;
        return 1;
      }
      int rd = NextPacket();
      if (rd < 0) {
        // End of the stream or a cut-off one: drain what was decoded.
        draining_ = true;
        avcodec_send_packet(video_, nullptr);
        continue;
      }
      if (packet_->stream_index == videoIndex_) {
        if (avcodec_send_packet(video_, packet_) < 0 && ++badPackets_ > 64) {
          av_packet_unref(packet_);
          ended_ = true;
          return 1;
        }
      } else if (packet_->stream_index == audioIndex_) {
        DecodeAudio();
      }
      av_packet_unref(packet_);
    }
  }

  // The next packet: a video packet held back by ReadSoundAhead first, then
  // the demuxer's.
  int NextPacket() {
    if (!held_.empty()) {
      AVPacket* p = held_.front();
      held_.pop_front();
      av_packet_move_ref(packet_, p);
      av_packet_free(&p);
      return 0;
    }
    if (readEnd_) return AVERROR_EOF;
    const int r = av_read_frame(format_, packet_);
    if (r < 0) readEnd_ = true;
    return r;
  }

  void DropHeld() {
    for (AVPacket* p : held_) av_packet_free(&p);
    held_.clear();
  }

  // A system stream may carry a picture's sound well after the picture (the
  // multiplexer's buffers decide). Sound is wanted before it is due, so
  // packets are read on until the sound reaches a little past the frame
  // asked for; the video packets met on the way are held for DecodeOne.
  void ReadSoundAhead(int64_t index) {
    constexpr int64_t kAhead = 2000000;  // 200 ms in 100 ns units
    constexpr size_t kMaxHeld = 256;
    if (!audio_ || info_.frameTime <= 0) return;
    const int64_t want = (index + 1) * info_.frameTime + kAhead;
    while (audioUntil_ < want && held_.size() < kMaxHeld && !readEnd_) {
      if (av_read_frame(format_, packet_) < 0) {
        readEnd_ = true;
        break;
      }
      if (packet_->stream_index == videoIndex_) {
        AVPacket* p = av_packet_alloc();
        if (!p) {
          av_packet_unref(packet_);
          break;
        }
        av_packet_move_ref(p, packet_);
        held_.push_back(p);
        continue;
      }
      if (packet_->stream_index == audioIndex_) DecodeAudio();
      av_packet_unref(packet_);
    }
  }

  void DecodeAudio() {
    AVStream* as = format_->streams[audioIndex_];
    if (packet_->pts != AV_NOPTS_VALUE) {
      const int64_t at = av_rescale_q(packet_->pts - (as->start_time != AV_NOPTS_VALUE ? as->start_time : 0),
                                      as->time_base, AVRational{1, 10000000});
      const int64_t length = packet_->duration > 0 ? av_rescale_q(packet_->duration, as->time_base,
                                                                  AVRational{1, 10000000}) : 0;
      audioUntil_ = std::max(audioUntil_, at + length);
      if (audioFrom_ > 0 && at < audioFrom_) return;
    }
    audioFrom_ = 0;
    if (avcodec_send_packet(audio_, packet_) < 0) return;
    while (avcodec_receive_frame(audio_, frame_) == 0) {
      if (sink_ && frame_->nb_samples > 0) Resample();
      av_frame_unref(frame_);
    }
  }

  void Resample() {
    // A stream may change its layout, rate or sample format between frames:
    // the converter is made for the frame at hand, never reused across one.
    if (swr_ && (frame_->format != swrFormat_ || frame_->sample_rate != swrRate_ ||
                 av_channel_layout_compare(&frame_->ch_layout, &swrLayout_) != 0))
      swr_free(&swr_);
    if (frame_->sample_rate <= 0 || frame_->ch_layout.nb_channels <= 0 || !frame_->extended_data) return;
    if (!swr_) {
      AVChannelLayout outLayout;
      av_channel_layout_default(&outLayout, info_.channels);
      if (swr_alloc_set_opts2(&swr_, &outLayout, AV_SAMPLE_FMT_S16, info_.sampleRate, &frame_->ch_layout,
                              static_cast<AVSampleFormat>(frame_->format), frame_->sample_rate, 0,
                              nullptr) < 0 ||
          swr_init(swr_) < 0) {
        swr_free(&swr_);
        return;
      }
      swrFormat_ = frame_->format;
      swrRate_ = frame_->sample_rate;
      av_channel_layout_uninit(&swrLayout_);
      if (av_channel_layout_copy(&swrLayout_, &frame_->ch_layout) < 0) {
        swr_free(&swr_);
        return;
      }
    }
    const int max = swr_get_out_samples(swr_, frame_->nb_samples);
    if (max <= 0) return;
    pcm_.resize(static_cast<size_t>(max) * info_.channels);
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(pcm_.data())};
    int n = swr_convert(swr_, out, max, const_cast<const uint8_t**>(frame_->extended_data), frame_->nb_samples);
    if (n > 0) sink_(user_, pcm_.data(), n, info_.channels, info_.sampleRate);
  }

  std::unique_ptr<MovieSource> source_;
  MovieAudioSink sink_;
  void* user_;
  MovieInfo info_;
  AVIOContext* io_ = nullptr;
  AVFormatContext* format_ = nullptr;
  AVCodecContext* video_ = nullptr;
  AVCodecContext* audio_ = nullptr;
  SwsContext* sws_ = nullptr;
  SwrContext* swr_ = nullptr;
  int swrFormat_ = -1, swrRate_ = 0;
  AVChannelLayout swrLayout_{};
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVFrame* current_ = nullptr;
  int videoIndex_ = -1, audioIndex_ = -1;
  int64_t decodedFrames_ = 0;
  int64_t currentIndex_ = -1;
  int64_t audioFrom_ = 0;
  int64_t audioUntil_ = 0;  // 100 ns units: how far the sound has been read
  std::deque<AVPacket*> held_;
  bool readEnd_ = false;
  int badPackets_ = 0;
  bool ended_ = false, draining_ = false;
  std::vector<int16_t> pcm_;
  std::vector<uint32_t> scratch_;
};

}  // namespace

std::unique_ptr<MovieDecoder> OpenFfmpegMovie(std::unique_ptr<MovieSource> source, MovieAudioSink sink, void* user,
                                              std::string* error) {
  if (!source) {
    if (error) *error = "no source";
    return nullptr;
  }
  av_log_set_level(AV_LOG_QUIET);
  auto movie = std::make_unique<FfmpegMovie>(std::move(source), sink, user);
  if (!movie->Open(error)) return nullptr;
  return movie;
}

}  // namespace plat
