// Owners for the FFmpeg objects the codec service holds, each released with its
// matching free function.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <memory>

namespace acm {

struct CodecContextFree {
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct FrameFree {
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwrFree {
    void operator()(SwrContext* p) const { swr_free(&p); }
};
struct FifoFree {
    void operator()(AVAudioFifo* p) const { av_audio_fifo_free(p); }
};
struct ParserFree {
    void operator()(AVCodecParserContext* p) const { av_parser_close(p); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFree>;
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoFree>;
using ParserPtr = std::unique_ptr<AVCodecParserContext, ParserFree>;

// A channel layout that releases what it holds: a layout in custom order owns an
// allocated map.
class ChannelLayout {
public:
    ChannelLayout() = default;
    ~ChannelLayout() { av_channel_layout_uninit(&layout_); }
    ChannelLayout(const ChannelLayout&) = delete;
    ChannelLayout& operator=(const ChannelLayout&) = delete;

    const AVChannelLayout& operator*() const { return layout_; }
    const AVChannelLayout* operator->() const { return &layout_; }
    // For calls that take the layout by a pointer to non-const but only read it.
    AVChannelLayout* get() { return &layout_; }
    // The layout emptied, to be filled by an FFmpeg call that does not release
    // what its target held.
    AVChannelLayout* Reset() {
        av_channel_layout_uninit(&layout_);
        return &layout_;
    }

private:
    AVChannelLayout layout_{};
};

}  // namespace acm
