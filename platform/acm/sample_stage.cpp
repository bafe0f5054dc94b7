#include "platform/acm/sample_stage.h"

#include "platform/acm/av_util.h"
#include "platform/acm/sink_stage.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace acm {

void SampleStage::Open(const FormatInfo& source, const FormatInfo& destination, SinkStage& sink) {
    sink_ = &sink;
    fallbackChannels_ = source.channels;
    LayoutFor(destination, dstLayout_);
    dstRate_ = static_cast<int>(destination.rate);
    targetFormat_ = sink.Format();
    targetDepth_ = sink.Depth();
    pack24_ = sink.Packs24();
}

MMRESULT SampleStage::SetUp(const SampleShape& shape) {
    swr_.reset();
    swrExact_.reset();
    ready_ = false;
    const int channels = shape.layout->nb_channels > 0 ? shape.layout->nb_channels : static_cast<int>(fallbackChannels_);
    NormalisedLayout(*shape.layout, channels, inLayout_);
    inFormat_ = shape.format;
    inRate_ = shape.rate;
    inDepth_ = shape.depth;
    if (inRate_ <= 0) return ACMERR_NOTPOSSIBLE;

    const bool sameLayout = av_channel_layout_compare(&*inLayout_, &*dstLayout_) == 0;
    direct_ = inFormat_ == targetFormat_ && inRate_ == dstRate_ && sameLayout;
    if (!direct_) {
        // Dither only where bits are dropped. Where nothing but the depth changes, a
        // stretch of samples that already fits the smaller depth is converted without
        // dither, so a widened signal narrows back exactly.
        const bool dither = IsIntegerFormat(targetFormat_) && inDepth_ > targetDepth_;
        if (MMRESULT r = MakeResampler(dither, &swr_); r != 0) return r;
        if (dither && inRate_ == dstRate_ && sameLayout) {
            if (MMRESULT r = MakeResampler(false, &swrExact_); r != 0) return r;
        }
    }
    ready_ = true;
    return MMSYSERR_NOERROR;
}

MMRESULT SampleStage::MakeResampler(bool dither, SwrPtr* out) {
    SwrContext* raw = nullptr;
    if (int err = swr_alloc_set_opts2(&raw, dstLayout_.get(), targetFormat_, dstRate_, inLayout_.get(), inFormat_, inRate_, 0,
                                      nullptr);
        err < 0)
        return FromAv(err);
    out->reset(raw);
    // A resampled signal is no finer than the narrower of its two formats: a
    // 16-bit source widened to float carries a 16-bit source's noise.
    const bool resampling = inRate_ != dstRate_;
    const int finest = std::min(inDepth_, targetDepth_);
    if (resampling) {
        av_opt_set(raw, "resampler", "soxr", 0);
        // 20 bits (soxr's high quality) keep the resampler's error below a 16-bit
        // signal's own noise floor at a third less work; wider signals get 28 bits.
        av_opt_set_double(raw, "precision", finest > 16 ? 28 : 20, 0);
    }
    if (dither) {
        av_opt_set_int(raw, "dither_method", SWR_DITHER_TRIANGULAR, 0);
        if (pack24_) av_opt_set_int(raw, "output_sample_bits", 24, 0);
    }
    // Samples pass through exactly in doubles where either side has more bits
    // than a float holds; a resampled signal needs them only where it has.
    const bool wide = resampling ? finest > 24 : (inDepth_ > 24 || targetDepth_ > 24);
    av_opt_set_sample_fmt(raw, "internal_sample_fmt", wide ? AV_SAMPLE_FMT_DBLP : AV_SAMPLE_FMT_FLTP, 0);
    // Mixing never raises the level past full scale: stereo to mono averages.
    av_opt_set_double(raw, "rematrix_maxval", 1.0, 0);
    const int inChannels = inLayout_->nb_channels, outChannels = dstLayout_->nb_channels;
    if (inChannels == 2 && outChannels == 1) {
        const double matrix[2] = {0.5, 0.5};
        swr_set_matrix(raw, matrix, 2);
    } else if (inChannels == 1 && outChannels == 2) {
        const double matrix[2] = {1.0, 1.0};
        swr_set_matrix(raw, matrix, 1);
    } else if (inChannels != outChannels && (inLayout_->order == AV_CHANNEL_ORDER_UNSPEC ||
                                             dstLayout_->order == AV_CHANNEL_ORDER_UNSPEC)) {
        // Channels without speaker positions cannot be mixed by place: every
        // destination channel takes the average of all source channels.
        const std::vector<double> matrix(static_cast<std::size_t>(inChannels) * outChannels, 1.0 / inChannels);
        swr_set_matrix(raw, matrix.data(), inChannels);
    }
    if (int err = swr_init(raw); err < 0) return FromAv(err);
    return MMSYSERR_NOERROR;
}

MMRESULT SampleStage::Take(const SampleShape& shape, const std::uint8_t* const* planes, int samples) {
    const int channels = shape.layout->nb_channels;
    ChannelLayout layout;
    NormalisedLayout(*shape.layout, channels, layout);
    const bool changed = !ready_ || shape.format != inFormat_ || shape.rate != inRate_ ||
                         av_channel_layout_compare(&*layout, &*inLayout_) != 0;
    if (changed) {
        if (MMRESULT r = Flush(); r != 0) return r;
        if (MMRESULT r = SetUp(shape); r != 0) return r;
    }
    return channels > 0 ? Process(planes, samples) : MMSYSERR_NOERROR;
}

// Points planes into the work buffer, grown to hold frames target samples.
std::uint8_t** SampleStage::WorkPlanes(int frames, std::uint8_t* (&planes)[kMaxChannels]) {
    const int channels = dstLayout_->nb_channels;
    const int bytes = av_samples_get_buffer_size(nullptr, channels, frames, targetFormat_, 1);
    if (bytes < 0) return nullptr;
    if (work_.size() < static_cast<std::size_t>(bytes)) work_.resize(static_cast<std::size_t>(bytes));
    av_samples_fill_arrays(planes, nullptr, work_.data(), channels, frames, targetFormat_, 1);
    return planes;
}

MMRESULT SampleStage::Process(const std::uint8_t* const* planes, int samples) {
    if (samples <= 0) return MMSYSERR_NOERROR;
    planes = ClipFloats(planes, samples);
    if (direct_) return sink_->Put(planes, samples);
    if (!swr_) return ACMERR_NOTPOSSIBLE;
    const int capacity = swr_get_out_samples(swr_.get(), samples);
    if (capacity < 0) return ACMERR_NOTPOSSIBLE;
    std::uint8_t* out[kMaxChannels] = {};
    if (WorkPlanes(std::max(capacity, 1), out) == nullptr) return ACMERR_NOTPOSSIBLE;
    SwrContext* swr = swrExact_ && FitsTargetDepth(planes, samples) ? swrExact_.get() : swr_.get();
    const int got = swr_convert(swr, out, capacity, const_cast<const std::uint8_t**>(planes), samples);
    if (got < 0) return FromAv(got);
    return sink_->Put(out, got);
}

MMRESULT SampleStage::Flush() {
    if (!swr_ || direct_) return MMSYSERR_NOERROR;
    constexpr int kFlushFrames = 4096;
    std::uint8_t* out[kMaxChannels] = {};
    if (WorkPlanes(kFlushFrames, out) == nullptr) return ACMERR_NOTPOSSIBLE;
    for (;;) {
        const int got = swr_convert(swr_.get(), out, kFlushFrames, nullptr, 0);
        if (got < 0) return FromAv(got);
        if (got == 0) return MMSYSERR_NOERROR;
        if (MMRESULT r = sink_->Put(out, got); r != 0) return r;
    }
}

// Float samples that are not numbers become silence and those beyond full scale
// clip, before anything else sees them: the resampler would spread them, and
// some encoders abort on such input.
const std::uint8_t* const* SampleStage::ClipFloats(const std::uint8_t* const* planes, int samples) {
    const AVSampleFormat packed = av_get_packed_sample_fmt(inFormat_);
    if (packed != AV_SAMPLE_FMT_FLT && packed != AV_SAMPLE_FMT_DBL) return planes;
    const bool planar = av_sample_fmt_is_planar(inFormat_) != 0;
    const int planeCount = planar ? inLayout_->nb_channels : 1;
    const std::size_t perPlane = static_cast<std::size_t>(samples) * (planar ? 1 : inLayout_->nb_channels);
    const std::size_t width = packed == AV_SAMPLE_FMT_FLT ? sizeof(float) : sizeof(double);
    const auto load = [packed](const std::uint8_t* p) -> double {
        if (packed == AV_SAMPLE_FMT_FLT) {
            float f;
            std::memcpy(&f, p, sizeof f);
            return f;
        }
        double d;
        std::memcpy(&d, p, sizeof d);
        return d;
    };
    const auto outside = [](double x) { return !(x >= -1.0 && x <= 1.0); };
    bool any = false;
    for (int p = 0; p < planeCount && !any; ++p)
        for (std::size_t i = 0; i < perPlane && !any; ++i) any = outside(load(planes[p] + i * width));
    if (!any) return planes;

    clipped_.resize(static_cast<std::size_t>(planeCount) * perPlane * width);
    clippedPlanes_.assign(static_cast<std::size_t>(planeCount), nullptr);
    for (int p = 0; p < planeCount; ++p) {
        std::uint8_t* out = clipped_.data() + static_cast<std::size_t>(p) * perPlane * width;
        for (std::size_t i = 0; i < perPlane; ++i) {
            double x = load(planes[p] + i * width);
            x = std::isnan(x) ? 0.0 : std::clamp(x, -1.0, 1.0);
            if (packed == AV_SAMPLE_FMT_FLT) {
                const float f = static_cast<float>(x);
                std::memcpy(out + i * width, &f, sizeof f);
            } else {
                std::memcpy(out + i * width, &x, sizeof x);
            }
        }
        clippedPlanes_[static_cast<std::size_t>(p)] = out;
    }
    return clippedPlanes_.data();
}

namespace {

// Whether integer samples leave the bits below the target depth clear.
template <typename T>
bool LowBitsClear(const std::uint8_t* plane, std::size_t count, unsigned depth) {
    constexpr unsigned width = sizeof(T) * 8;
    if (depth >= width) return true;
    using U = std::make_unsigned_t<T>;
    const auto mask = static_cast<U>((U{1} << (width - depth)) - 1);
    const auto* v = reinterpret_cast<const T*>(plane);
    for (std::size_t i = 0; i < count; ++i)
        if ((static_cast<U>(v[i]) & mask) != 0) return false;
    return true;
}

// Whether float samples are whole steps of the target depth within full scale.
template <typename T>
bool OnTargetSteps(const std::uint8_t* plane, std::size_t count, unsigned depth) {
    const double scale = std::ldexp(1.0, static_cast<int>(depth) - 1);
    const auto* v = reinterpret_cast<const T*>(plane);
    for (std::size_t i = 0; i < count; ++i) {
        const double scaled = v[i] * scale;
        if (!(scaled >= -scale && scaled < scale) || scaled != std::nearbyint(scaled)) return false;
    }
    return true;
}

}  // namespace

bool SampleStage::FitsTargetDepth(const std::uint8_t* const* planes, int samples) const {
    const bool planar = av_sample_fmt_is_planar(inFormat_) != 0;
    const int channels = inLayout_->nb_channels;
    const std::size_t perPlane = static_cast<std::size_t>(samples) * (planar ? 1 : channels);
    const int planeCount = planar ? channels : 1;
    for (int p = 0; p < planeCount; ++p) {
        bool fits = false;
        switch (av_get_packed_sample_fmt(inFormat_)) {
        case AV_SAMPLE_FMT_S16: fits = LowBitsClear<std::int16_t>(planes[p], perPlane, targetDepth_); break;
        case AV_SAMPLE_FMT_S32: fits = LowBitsClear<std::int32_t>(planes[p], perPlane, targetDepth_); break;
        case AV_SAMPLE_FMT_S64: fits = LowBitsClear<std::int64_t>(planes[p], perPlane, targetDepth_); break;
        case AV_SAMPLE_FMT_FLT: fits = OnTargetSteps<float>(planes[p], perPlane, targetDepth_); break;
        case AV_SAMPLE_FMT_DBL: fits = OnTargetSteps<double>(planes[p], perPlane, targetDepth_); break;
        default: break;
        }
        if (!fits) return false;
    }
    return true;
}

}  // namespace acm
