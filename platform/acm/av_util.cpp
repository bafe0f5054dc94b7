#include "platform/acm/av_util.h"

#include <cerrno>

namespace acm {

MMRESULT FromAv(int err) { return err == AVERROR(ENOMEM) ? MMSYSERR_NOMEM : ACMERR_NOTPOSSIBLE; }

unsigned FormatDepth(AVSampleFormat format) {
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8: return 8;
    case AV_SAMPLE_FMT_S16: return 16;
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_FLT: return 32;
    case AV_SAMPLE_FMT_S64:
    case AV_SAMPLE_FMT_DBL: return 64;
    default: return 0;
    }
}

bool IsIntegerFormat(AVSampleFormat format) {
    const AVSampleFormat packed = av_get_packed_sample_fmt(format);
    return packed == AV_SAMPLE_FMT_U8 || packed == AV_SAMPLE_FMT_S16 || packed == AV_SAMPLE_FMT_S32 ||
           packed == AV_SAMPLE_FMT_S64;
}

AVSampleFormat LinearFormat(const FormatInfo& f) {
    if (f.coding == Coding::Float) return f.containerBytes == 4 ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_DBL;
    switch (f.containerBytes) {
    case 1: return AV_SAMPLE_FMT_U8;
    case 2: return AV_SAMPLE_FMT_S16;
    case 8: return AV_SAMPLE_FMT_S64;
    default: return AV_SAMPLE_FMT_S32;
    }
}

unsigned LinearDepth(const FormatInfo& f) { return f.coding == Coding::Float ? f.containerBytes * 8 : f.validBits; }

void LayoutFor(const FormatInfo& f, ChannelLayout& layout) {
    if (f.channelMask != 0 && av_channel_layout_from_mask(layout.Reset(), f.channelMask) == 0) return;
    av_channel_layout_default(layout.Reset(), static_cast<int>(f.channels));
}

void NormalisedLayout(const AVChannelLayout& from, int channels, ChannelLayout& layout) {
    if (from.order == AV_CHANNEL_ORDER_NATIVE && from.nb_channels == channels) {
        av_channel_layout_copy(layout.Reset(), &from);
        return;
    }
    av_channel_layout_default(layout.Reset(), channels);
}

}  // namespace acm
