#include "platform/acm/stream.h"

#include "platform/acm/catalogue.h"

#include <algorithm>
#include <cmath>

namespace acm {

namespace {

// Rates further apart than this are refused: one source block of such a file
// would turn into gigabytes of output held for later passes.
constexpr double kMaxRateRatio = 64.0;

// Whether raw source bytes are already destination bytes: same sample coding and
// size, rate and channel count (channels are never remixed when the count is
// kept), and nothing to encode.
bool RawBytesPassThrough(const FormatInfo& s, const FormatInfo& d, const SinkStage& sink) {
    return s.IsLinear() && !sink.Encodes() && s.coding == d.coding && s.containerBytes == d.containerBytes &&
           s.rate == d.rate && s.channels == d.channels;
}

}  // namespace

MMRESULT Stream::Open(std::span<const std::uint8_t> source, std::span<const std::uint8_t> destination,
                      std::unique_ptr<Stream>* stream) {
    QuietCodecLog();
    auto s = std::make_unique<Stream>(Key());
    s->srcBlock_.assign(source.begin(), source.end());
    s->dstBlock_.assign(destination.begin(), destination.end());
    if (ParseFormat(s->srcBlock_.data(), s->srcBlock_.size(), &s->src_) != 0) return ACMERR_NOTPOSSIBLE;
    if (ParseFormat(s->dstBlock_.data(), s->dstBlock_.size(), &s->dst_) != 0) return ACMERR_NOTPOSSIBLE;
    // A destination block is written as the file's own: it must describe its samples exactly.
    if (s->dst_.alignmentFromBits) return ACMERR_NOTPOSSIBLE;
    const double ratio = static_cast<double>(s->src_.rate) / s->dst_.rate;
    if (ratio > kMaxRateRatio || ratio < 1.0 / kMaxRateRatio) return ACMERR_NOTPOSSIBLE;
    if (MMRESULT r = s->OpenStages(); r != 0) return r;
    *stream = std::move(s);
    return MMSYSERR_NOERROR;
}

// The sink first: it decides the sample format the other stages work towards.
MMRESULT Stream::OpenStages() {
    if (MMRESULT r = sink_.Open(dst_); r != 0) return r;
    samples_.Open(src_, dst_, sink_);
    return source_.Open(src_, RawBytesPassThrough(src_, dst_, sink_), samples_, sink_);
}

MMRESULT Stream::Convert(std::span<const std::uint8_t> source, std::span<std::uint8_t> destination, bool end,
                         std::size_t* destinationUsed) {
    *destinationUsed = 0;
    if (drained_ && !source.empty()) return ACMERR_NOTPOSSIBLE;
    started_ = true;
    // A source in the destination's own memory stays where it is when the pass
    // hands it over unchanged from the start of the buffer (a pass-through with
    // nothing carried or waiting); anything else would write over source bytes
    // not yet read, so they are copied away first.
    const std::uint8_t* from = source.data();
    const bool shared = !source.empty() && from < destination.data() + destination.size() &&
                        destination.data() < from + source.size();
    if (shared && !(from == destination.data() && source_.PassesThroughWhole() && !sink_.Output().Waiting())) {
        sourceCopy_.assign(source.begin(), source.end());
        source = sourceCopy_;
    }
    sink_.Output().Begin(destination);
    MMRESULT r = MMSYSERR_NOERROR;
    if (!source.empty()) r = source_.Feed(source);
    if (r == MMSYSERR_NOERROR && end && !drained_) {
        r = source_.Drain();
        if (r == MMSYSERR_NOERROR) r = samples_.Flush();
        if (r == MMSYSERR_NOERROR) r = sink_.Finish();
        drained_ = true;
    }
    *destinationUsed = sink_.Output().End();
    return r;
}

MMRESULT Stream::LimitFrames(std::uint64_t frames, std::uint64_t sourceBytes) {
    // Frames already handed on cannot be taken back.
    if (started_) return ACMERR_NOTPOSSIBLE;
    return source_.Limit(frames, sourceBytes);
}

std::uint64_t Stream::DestinationBytesForSource(std::uint64_t sourceBytes) const {
    // Averaged over passes the resampler gives exactly the rate ratio; what it holds
    // back and later releases in a burst waits for the next pass.
    const double sourceFrames = source_.FramesFor(sourceBytes);
    const double frames = std::ceil(src_.rate == dst_.rate ? sourceFrames : sourceFrames * dst_.rate / src_.rate);
    return sink_.BytesFor(frames);
}

DWORD Stream::SourceBytesFor(DWORD destinationBytes) const {
    const std::uint64_t align = std::max<unsigned>(src_.blockAlign, 1);
    std::uint64_t lo = 1, hi = 0xFFFFFFFFull / align;
    if (DestinationBytesForSource(align) > destinationBytes) return static_cast<DWORD>(align);
    while (lo < hi) {
        const std::uint64_t mid = lo + (hi - lo + 1) / 2;
        if (DestinationBytesForSource(mid * align) <= destinationBytes)
            lo = mid;
        else
            hi = mid - 1;
    }
    return static_cast<DWORD>(lo * align);
}

DWORD Stream::DestinationBytesFor(DWORD sourceBytes) const {
    return static_cast<DWORD>(std::min<std::uint64_t>(DestinationBytesForSource(sourceBytes), 0xFFFFFFFFull));
}

}  // namespace acm
