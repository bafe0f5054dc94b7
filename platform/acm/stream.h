// One conversion stream: a source stage (unpacking or decoding), a sample stage
// (remix, resample, requantise) and a sink stage (packing or encoding), each
// with its own state, carried across passes.
#pragma once

#include "platform/acm/acm.h"
#include "platform/acm/format.h"
#include "platform/acm/sample_stage.h"
#include "platform/acm/sink_stage.h"
#include "platform/acm/source_stage.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace acm {

class Stream {
    struct Key {
        explicit Key() = default;
    };

public:
    // Opens a stream from the source block to the destination block (each 18 +
    // cbSize bytes). 0 and *stream set; ACMERR_NOTPOSSIBLE for a pair it cannot
    // convert or a malformed block; MMSYSERR_NOMEM.
    static MMRESULT Open(std::span<const std::uint8_t> source, std::span<const std::uint8_t> destination,
                         std::unique_ptr<Stream>* stream);
    // Only Open makes streams; the key keeps the constructor to it.
    explicit Stream(Key) {}
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Converts all of source, writing at most destination.size() bytes; output that
    // does not fit waits for the next pass. With end set, the decoder, resampler and
    // encoder are drained after the source is taken. The two may share memory: a
    // pass-through then converts in place.
    MMRESULT Convert(std::span<const std::uint8_t> source, std::span<std::uint8_t> destination, bool end,
                     std::size_t* destinationUsed);

    // Source bytes, whole source blocks and at least one, whose conversion fits
    // destinationBytes (on average over passes where a resampler buffers).
    DWORD SourceBytesFor(DWORD destinationBytes) const;
    // An upper bound of the destination bytes that sourceBytes give.
    DWORD DestinationBytesFor(DWORD sourceBytes) const;

    // Source packets the decoder could not read and skipped so far.
    DWORD DamagedBlocks() const { return source_.DamagedBlocks(); }
    // Sample frames handed to the sink so far, at the destination's rate.
    std::uint64_t FramesOut() const { return sink_.FramesOut(); }
    // Samples clipped on the way into a destination without float samples.
    std::uint64_t ClippedSamples() const { return samples_.Clipped(); }
    // Cuts the decoded source to frames sample frames, when that count falls
    // within the last block of sourceBytes bytes; before the first conversion
    // only. 0, or ACMERR_NOTPOSSIBLE with nothing cut.
    MMRESULT LimitFrames(std::uint64_t frames, std::uint64_t sourceBytes);

private:
    MMRESULT OpenStages();
    std::uint64_t DestinationBytesForSource(std::uint64_t sourceBytes) const;

    // The blocks, which the formats point into, outlive the stages.
    Block srcBlock_, dstBlock_;
    FormatInfo src_, dst_;
    SinkStage sink_;
    SampleStage samples_;
    SourceStage source_;
    std::vector<std::uint8_t> sourceCopy_;  // a source sharing the destination's memory, when it must move
    bool started_ = false;  // a conversion has been asked for
    bool drained_ = false;
};

}  // namespace acm
