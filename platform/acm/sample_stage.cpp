#include "platform/acm/sample_stage.h"

#include "platform/acm/av_util.h"
#include "platform/acm/sink_stage.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

namespace acm {

namespace {

// A float sample beyond this (600 dB over full scale), or one that is not
// finite, is damage rather than signal. Keeping every sample within it keeps
// the resampler's sums finite, so one bad sample cannot spread to its neighbours.
constexpr double kDamaged = 1e30;

bool IsFloatFormat(AVSampleFormat format) {
    const AVSampleFormat packed = av_get_packed_sample_fmt(format);
    return packed == AV_SAMPLE_FMT_FLT || packed == AV_SAMPLE_FMT_DBL;
}

// Calls visit(samples, count, plane) on every plane of float samples, typed as
// they are stored; Byte is const where the samples are only read.
template <typename Byte, typename Visit>
void ForEachFloatPlane(AVSampleFormat format, int channels, int frames, Byte* const* planes, Visit&& visit) {
    using Float = std::conditional_t<std::is_const_v<Byte>, const float, float>;
    using Double = std::conditional_t<std::is_const_v<Byte>, const double, double>;
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int count = planar ? channels : 1;
    const std::size_t perPlane = static_cast<std::size_t>(frames) * static_cast<std::size_t>(planar ? 1 : channels);
    const bool single = av_get_packed_sample_fmt(format) == AV_SAMPLE_FMT_FLT;
    for (int p = 0; p < count; ++p) {
        if (single)
            visit(reinterpret_cast<Float*>(planes[p]), perPlane, p);
        else
            visit(reinterpret_cast<Double*>(planes[p]), perPlane, p);
    }
}

// Bounds of float samples in their own type: a sample fits the destination
// when low <= x < high, and is damaged unless |x| <= damage.
template <typename T>
struct Bounds {
    T low, high, damage;
};

// The least value of type T at or above bound, so that comparing a sample of
// type T with it decides exactly as comparing with bound would.
template <typename T>
T AtOrAbove(double bound) {
    const T t = static_cast<T>(bound);
    return static_cast<double>(t) < bound ? std::nextafter(t, std::numeric_limits<T>::infinity()) : t;
}

template <typename T>
Bounds<T> BoundsOf(double low, double high) {
    return {AtOrAbove<T>(low), AtOrAbove<T>(high), static_cast<T>(kDamaged)};
}

// Adds to beyond the samples that do not fit; tells whether any is damaged.
// Counted in runs with a 32-bit count, which the compiler vectorises.
template <typename T>
bool CountBeyond(const T* v, std::size_t n, const Bounds<T>& b, std::uint64_t& beyond) {
    constexpr std::size_t kRun = 4096;
    unsigned damaged = 0;
    for (std::size_t at = 0; at < n; at += kRun) {
        const std::size_t end = std::min(n, at + kRun);
        std::uint32_t count = 0;
        for (std::size_t i = at; i < end; ++i) {
            const T x = v[i];
            count += static_cast<std::uint32_t>((x < b.low) | (x >= b.high));
            damaged |= static_cast<unsigned>(!(std::fabs(x) <= b.damage));
        }
        beyond += count;
    }
    return damaged != 0;
}

// Copies samples with the damaged ones made safe: not a number becomes silence,
// an infinite or absurd value full scale. With clip, every value is held
// within full scale as well.
template <typename T>
void Repair(const T* in, T* out, std::size_t n, bool clip) {
    for (std::size_t i = 0; i < n; ++i) {
        T x = in[i];
        if (!(x >= -kDamaged && x <= kDamaged))
            x = std::isnan(x) ? T(0) : (x > 0 ? T(1) : T(-1));
        else if (clip)
            x = std::clamp(x, T(-1), T(1));
        out[i] = x;
    }
}

}  // namespace

void SampleStage::Open(const FormatInfo& source, const FormatInfo& destination, SinkStage& sink) {
    sink_ = &sink;
    fallbackChannels_ = source.channels;
    LayoutFor(destination, dstLayout_);
    dstRate_ = static_cast<int>(destination.rate);
    targetFormat_ = sink.Format();
    targetDepth_ = sink.Depth();
    pack24_ = sink.Packs24();
    floatsClip_ = sink.Encodes() || IsIntegerFormat(targetFormat_);
    if (IsIntegerFormat(targetFormat_)) {
        // The integer conversion rounds x * 2^(bits - 1) to the nearest step and
        // clips what then lies beyond the container.
        const int bits = pack24_ ? 24 : static_cast<int>(FormatDepth(targetFormat_));
        const double half = std::ldexp(1.0, -bits);
        fitLow_ = -1.0 - half;
        fitHigh_ = 1.0 - half;
    } else {
        // A float encoder is given full scale at most.
        fitLow_ = -1.0;
        fitHigh_ = std::nextafter(1.0, 2.0);
    }
}

// The layout samples are taken in: the destination's own where the counts
// agree, so that channel n stays channel n whatever either side calls its
// speakers; otherwise one that names positions where FFmpeg knows any for the
// count, so that channels are remixed by position.
void SampleStage::InputLayout(const AVChannelLayout& from, int channels, ChannelLayout& layout) const {
    if (channels == dstLayout_->nb_channels) {
        av_channel_layout_copy(layout.Reset(), &*dstLayout_);
        return;
    }
    NormalisedLayout(from, channels, layout);
}

MMRESULT SampleStage::SetUp(const SampleShape& shape) {
    swr_.reset();
    swrExact_.reset();
    swrOut_.reset();
    ready_ = false;
    const int channels = shape.layout->nb_channels > 0 ? shape.layout->nb_channels : static_cast<int>(fallbackChannels_);
    InputLayout(*shape.layout, channels, inLayout_);
    inFormat_ = shape.format;
    inRate_ = shape.rate;
    inDepth_ = shape.depth;
    if (inRate_ <= 0) return ACMERR_NOTPOSSIBLE;

    const bool sameLayout = av_channel_layout_compare(&*inLayout_, &*dstLayout_) == 0;
    const bool reshaped = inRate_ != dstRate_ || !sameLayout;
    direct_ = inFormat_ == targetFormat_ && !reshaped;
    if (!IsFloatFormat(inFormat_) || !floatsClip_)
        headroom_ = Headroom::Kept;
    else
        headroom_ = reshaped ? Headroom::ClipAfter : Headroom::ClipBefore;
    if (!direct_) {
        if (MMRESULT r = MakeConversions(sameLayout); r != 0) return r;
    }
    ready_ = true;
    return MMSYSERR_NOERROR;
}

MMRESULT SampleStage::MakeConversions(bool sameLayout) {
    const bool resampling = inRate_ != dstRate_;
    // A resampled signal is no finer than the narrower of its two formats: a
    // 16-bit source widened to float carries a 16-bit source's noise.
    const unsigned finest = std::min(inDepth_, targetDepth_);
    // Samples pass through exactly in doubles where either side has more bits
    // than a float holds; a resampled signal needs them only where it has.
    const bool wide = resampling ? finest > 24 : (inDepth_ > 24 || targetDepth_ > 24);
    Conversion c{inFormat_, targetFormat_, inRate_, inLayout_.get(), wide ? AV_SAMPLE_FMT_DBLP : AV_SAMPLE_FMT_FLTP};
    // 20 bits (soxr's high quality) keep the resampler's error below a 16-bit
    // signal's own noise floor at a third less work; wider signals get 28 bits.
    if (resampling) c.precision = finest > 16 ? 28 : 20;
    // Dither only where bits are dropped.
    c.dither = IsIntegerFormat(targetFormat_) && inDepth_ > targetDepth_;
    // Dither is added in a stage of its own after a remix: libswresample's
    // dither in the same pass as an upmix grows on the new channels (silent
    // surround channels of 8-bit PCM reached 12 steps in two seconds).
    const bool ditherApart = c.dither && !sameLayout;
    if ((headroom_ == Headroom::ClipAfter || ditherApart) && IsIntegerFormat(targetFormat_)) {
        // The resampler gives floats, clipped and counted before they become
        // integers, so its overshoot is counted as well; the dither comes with
        // the integers.
        betweenFormat_ = c.internal;
        const Conversion out{betweenFormat_, targetFormat_, dstRate_, dstLayout_.get(), betweenFormat_, 0, c.dither};
        if (MMRESULT r = MakeResampler(out, &swrOut_); r != 0) return r;
        c.to = betweenFormat_;
        c.dither = false;
    }
    if (MMRESULT r = MakeResampler(c, &swr_); r != 0) return r;
    // Where nothing but the depth changes, a stretch of samples that already fits
    // the smaller depth is converted without dither, so a widened signal narrows
    // back exactly.
    if (!c.dither || resampling || !sameLayout) return MMSYSERR_NOERROR;
    c.dither = false;
    return MakeResampler(c, &swrExact_);
}

namespace {

// The mixing rules libswresample's own matrix does not give: stereo to mono
// averages, mono to stereo copies, and channels without speaker positions are
// mixed evenly, every destination channel the average of all source channels.
// Elsewhere libswresample mixes by speaker position.
void SetMixMatrix(SwrContext* swr, const AVChannelLayout& in, const AVChannelLayout& out) {
    const int inChannels = in.nb_channels, outChannels = out.nb_channels;
    if (inChannels == 2 && outChannels == 1) {
        const double matrix[2] = {0.5, 0.5};
        swr_set_matrix(swr, matrix, 2);
    } else if (inChannels == 1 && outChannels == 2) {
        const double matrix[2] = {1.0, 1.0};
        swr_set_matrix(swr, matrix, 1);
    } else if (inChannels != outChannels &&
               (in.order == AV_CHANNEL_ORDER_UNSPEC || out.order == AV_CHANNEL_ORDER_UNSPEC)) {
        const std::vector<double> matrix(static_cast<std::size_t>(inChannels) * outChannels, 1.0 / inChannels);
        swr_set_matrix(swr, matrix.data(), inChannels);
    }
}

}  // namespace

MMRESULT SampleStage::MakeResampler(const Conversion& c, SwrPtr* out) {
    SwrContext* raw = nullptr;
    if (int err = swr_alloc_set_opts2(&raw, dstLayout_.get(), c.to, dstRate_, c.fromLayout, c.from, c.fromRate, 0,
                                      nullptr);
        err < 0)
        return FromAv(err, "swr_alloc_set_opts2");
    out->reset(raw);
    if (c.precision != 0) {
        av_opt_set(raw, "resampler", "soxr", 0);
        av_opt_set_double(raw, "precision", c.precision, 0);
    }
    if (c.dither) {
        av_opt_set_int(raw, "dither_method", SWR_DITHER_TRIANGULAR, 0);
        if (pack24_) av_opt_set_int(raw, "output_sample_bits", 24, 0);
    }
    av_opt_set_sample_fmt(raw, "internal_sample_fmt", c.internal, 0);
    // Mixing never raises the level past full scale.
    av_opt_set_double(raw, "rematrix_maxval", 1.0, 0);
    SetMixMatrix(raw, *c.fromLayout, *dstLayout_);
    if (int err = swr_init(raw); err < 0) return FromAv(err, "swr_init");
    return MMSYSERR_NOERROR;
}

MMRESULT SampleStage::Take(const SampleShape& shape, const std::uint8_t* const* planes, int samples) {
    const int channels = shape.layout->nb_channels;
    if (ready_ && shape.format == inFormat_ && shape.rate == inRate_ && channels == inLayout_->nb_channels) {
        ChannelLayout layout;
        InputLayout(*shape.layout, channels, layout);
        if (av_channel_layout_compare(&*layout, &*inLayout_) == 0) return Process(planes, samples);
    }
    if (MMRESULT r = Flush(); r != 0) return r;
    if (MMRESULT r = SetUp(shape); r != 0) return r;
    return channels > 0 ? Process(planes, samples) : MMSYSERR_NOERROR;
}

// Points planes into buffer, grown to hold frames samples of format for the
// destination's channels.
std::uint8_t** SampleStage::Planes(std::vector<std::uint8_t>& buffer, AVSampleFormat format, int frames,
                                   std::uint8_t* (&planes)[kMaxChannels]) {
    const int channels = dstLayout_->nb_channels;
    const int bytes = av_samples_get_buffer_size(nullptr, channels, frames, format, 1);
    if (bytes < 0) return nullptr;
    if (buffer.size() < static_cast<std::size_t>(bytes)) buffer.resize(static_cast<std::size_t>(bytes));
    av_samples_fill_arrays(planes, nullptr, buffer.data(), channels, frames, format, 1);
    return planes;
}

MMRESULT SampleStage::Process(const std::uint8_t* const* planes, int samples) {
    if (samples <= 0) return MMSYSERR_NOERROR;
    if (IsFloatFormat(inFormat_)) planes = CheckFloats(planes, samples);
    if (direct_) return sink_->Put(planes, samples);
    if (!swr_) return ACMERR_NOTPOSSIBLE;
    const int capacity = swr_get_out_samples(swr_.get(), samples);
    if (capacity < 0) return ACMERR_NOTPOSSIBLE;
    std::uint8_t* out[kMaxChannels] = {};
    if (!(swrOut_ ? Planes(between_, betweenFormat_, std::max(capacity, 1), out)
                  : Planes(work_, targetFormat_, std::max(capacity, 1), out)))
        return ACMERR_NOTPOSSIBLE;
    SwrContext* swr = swrExact_ && FitsTargetDepth(planes, samples) ? swrExact_.get() : swr_.get();
    const int got = swr_convert(swr, out, capacity, const_cast<const std::uint8_t**>(planes), samples);
    if (got < 0) return FromAv(got, "swr_convert");
    return Deliver(out, got);
}

// Hands what the resampler gave on to the sink: float samples beyond what the
// destination holds are counted and clipped here, and become integers only
// after that where the destination holds integers.
MMRESULT SampleStage::Deliver(std::uint8_t** planes, int frames) {
    if (frames <= 0) return MMSYSERR_NOERROR;
    const int channels = dstLayout_->nb_channels;
    if (headroom_ == Headroom::ClipAfter) {
        const AVSampleFormat format = swrOut_ ? betweenFormat_ : targetFormat_;
        std::uint64_t beyond = 0;
        ForEachFloatPlane(format, channels, frames, planes, [&](auto* v, std::size_t n, int) {
            using T = std::remove_pointer_t<decltype(v)>;
            CountBeyond<T>(v, n, BoundsOf<T>(fitLow_, fitHigh_), beyond);
        });
        clipped_ += beyond;
        if (beyond > 0)
            ForEachFloatPlane(format, channels, frames, planes, [](auto* v, std::size_t n, int) { Repair(v, v, n, true); });
    }
    if (!swrOut_) return sink_->Put(planes, frames);
    std::uint8_t* out[kMaxChannels] = {};
    if (Planes(work_, targetFormat_, frames, out) == nullptr) return ACMERR_NOTPOSSIBLE;
    const int got = swr_convert(swrOut_.get(), out, frames, const_cast<const std::uint8_t**>(planes), frames);
    if (got < 0) return FromAv(got, "swr_convert");
    return sink_->Put(out, got);
}

MMRESULT SampleStage::Flush() {
    if (!swr_ || direct_) return MMSYSERR_NOERROR;
    constexpr int kFlushFrames = 4096;
    std::uint8_t* out[kMaxChannels] = {};
    if (!(swrOut_ ? Planes(between_, betweenFormat_, kFlushFrames, out) : Planes(work_, targetFormat_, kFlushFrames, out)))
        return ACMERR_NOTPOSSIBLE;
    for (;;) {
        const int got = swr_convert(swr_.get(), out, kFlushFrames, nullptr, 0);
        if (got < 0) return FromAv(got, "swr_convert");
        if (got == 0) return MMSYSERR_NOERROR;
        if (MMRESULT r = Deliver(out, got); r != 0) return r;
    }
}

// Float samples as they come: damaged ones are made safe before anything else
// sees them (the resampler would spread them, and some encoders abort on them).
// Where no resampler follows, those beyond what the destination holds are
// counted and clipped here.
const std::uint8_t* const* SampleStage::CheckFloats(const std::uint8_t* const* planes, int samples) {
    const int channels = inLayout_->nb_channels;
    const bool counted = headroom_ == Headroom::ClipBefore;
    const double low = counted ? fitLow_ : -std::numeric_limits<double>::infinity();
    const double high = counted ? fitHigh_ : std::numeric_limits<double>::infinity();
    std::uint64_t beyond = 0;
    bool damaged = false;
    ForEachFloatPlane(inFormat_, channels, samples, planes, [&](const auto* v, std::size_t n, int) {
        using T = std::remove_const_t<std::remove_pointer_t<decltype(v)>>;
        damaged |= CountBeyond<T>(v, n, BoundsOf<T>(low, high), beyond);
    });
    if (counted) clipped_ += beyond;
    const bool clip = counted && beyond > 0;
    if (!damaged && !clip) return planes;

    const int bytes = av_samples_get_buffer_size(nullptr, channels, samples, inFormat_, 1);
    if (bytes < 0) return planes;
    checked_.resize(static_cast<std::size_t>(bytes));
    std::uint8_t* out[kMaxChannels] = {};
    av_samples_fill_arrays(out, nullptr, checked_.data(), channels, samples, inFormat_, 1);
    ForEachFloatPlane(inFormat_, channels, samples, planes, [&](const auto* v, std::size_t n, int p) {
        using T = std::remove_const_t<std::remove_pointer_t<decltype(v)>>;
        Repair<T>(v, reinterpret_cast<T*>(out[p]), n, clip);
    });
    checkedPlanes_.assign(out, out + (av_sample_fmt_is_planar(inFormat_) != 0 ? channels : 1));
    return checkedPlanes_.data();
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
