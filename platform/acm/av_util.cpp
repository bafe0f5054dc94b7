#include "platform/acm/av_util.h"

#include <cerrno>
#include <string>

namespace acm {

namespace {

thread_local std::string tCodecDetail;

}  // namespace

MMRESULT FromAv(int err, const char* call, const AVCodec* codec) {
    char reason[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, reason, sizeof reason);
    tCodecDetail = std::string(reason) + " (" + call;
    if (codec != nullptr) tCodecDetail += std::string(" ") + codec->name;
    tCodecDetail += ")";
    return err == AVERROR(ENOMEM) ? MMSYSERR_NOMEM : ACMERR_NOTPOSSIBLE;
}

void ClearCodecDetail() { tCodecDetail.clear(); }

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

void UsualLayout(int channels, ChannelLayout& layout) {
    std::uint64_t mask = 0;
    switch (channels) {
    case 1: mask = AV_CH_LAYOUT_MONO; break;
    case 2: mask = AV_CH_LAYOUT_STEREO; break;
    case 4: mask = AV_CH_LAYOUT_QUAD; break;
    case 6: mask = AV_CH_LAYOUT_5POINT1_BACK; break;
    case 8: mask = AV_CH_LAYOUT_7POINT1; break;
    default: break;
    }
    if (mask != 0 && av_channel_layout_from_mask(layout.Reset(), mask) == 0) return;
    AVChannelLayout* unplaced = layout.Reset();
    unplaced->order = AV_CHANNEL_ORDER_UNSPEC;
    unplaced->nb_channels = channels;
}

void LayoutFor(const FormatInfo& f, ChannelLayout& layout) {
    if (f.channelMask != 0 && av_channel_layout_from_mask(layout.Reset(), f.channelMask) == 0) return;
    UsualLayout(static_cast<int>(f.channels), layout);
}

void NormalisedLayout(const AVChannelLayout& from, int channels, ChannelLayout& layout) {
    if (from.order == AV_CHANNEL_ORDER_NATIVE && from.nb_channels == channels) {
        av_channel_layout_copy(layout.Reset(), &from);
        return;
    }
    UsualLayout(channels, layout);
}

}  // namespace acm

const char* acmLastCodecDetail() { return acm::tCodecDetail.c_str(); }
