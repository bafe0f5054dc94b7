// The first stage of a stream: source bytes become samples. PCM and float
// samples are unpacked (24-bit samples widen to 32); coded data goes to the
// decoder in whole blocks, or through FFmpeg's parser for self-framing streams.
// A block cut by the end of a pass waits for the rest in the next.
#pragma once

#include "platform/acm/acm.h"
#include "platform/acm/ffmpeg_ptr.h"
#include "platform/acm/format.h"
#include "platform/acm/tags.h"

#include <cstdint>
#include <span>
#include <vector>

namespace acm {

class SampleStage;
class SinkStage;

class SourceStage {
public:
    // Opens raw reading or the decoder for the source block; samples go to the
    // sample stage, or, with passthrough, raw bytes that are already the
    // destination's go straight to the sink. A decoder's announced sample shape
    // sets up the sample stage now, so an impossible channel mapping is refused
    // at once. 0, ACMERR_NOTPOSSIBLE or MMSYSERR_NOMEM.
    MMRESULT Open(const FormatInfo& source, bool passthrough, SampleStage& samples, SinkStage& sink);

    // Reads all of source; a partial block is kept for the next call.
    MMRESULT Feed(std::span<const std::uint8_t> source);
    // Decodes what is kept and drains the decoder.
    MMRESULT Drain();
    // Cuts the decoded source to frames sample frames when the count falls
    // within the last block of sourceBytes bytes, for sources whose blocks
    // decode to a fixed number of frames. 0, or ACMERR_NOTPOSSIBLE (no cut).
    MMRESULT Limit(std::uint64_t frames, std::uint64_t sourceBytes);

    // How many sample frames bytes of source hold at most.
    double FramesFor(std::uint64_t bytes) const;
    // Whether raw source bytes go to the sink as they are, and nothing is kept
    // from an earlier pass: such a pass may convert in place.
    bool PassesThroughWhole() const { return passthrough_ && carry_.empty(); }
    // Packets the decoder could not read and skipped.
    DWORD DamagedBlocks() const { return damaged_; }

private:
    MMRESULT OpenDecoder();
    bool TopUpCarry(std::span<const std::uint8_t>& source);
    MMRESULT FeedRaw(std::span<const std::uint8_t> source);
    MMRESULT TakeRaw(const std::uint8_t* bytes, std::size_t frames);
    MMRESULT FeedParser(std::span<const std::uint8_t> source);
    MMRESULT FeedBlocks(std::span<const std::uint8_t> source);
    MMRESULT DecodePacket(const std::uint8_t* bytes, std::size_t size);
    MMRESULT ReceiveFrames();
    std::size_t TakeUpTo(std::size_t frames);

    FormatInfo src_;
    BlockFamily family_ = BlockFamily::Other;
    SampleStage* samples_ = nullptr;
    SinkStage* sink_ = nullptr;
    Block carry_;  // a partial source block waiting for the rest
    std::uint64_t framesLeft_ = UINT64_MAX;  // frames still to hand on before the cut

    // Raw samples.
    bool passthrough_ = false;
    AVSampleFormat rawFormat_ = AV_SAMPLE_FMT_NONE;
    ChannelLayout rawLayout_;
    bool unpack24_ = false;
    std::vector<std::uint8_t> scratch_;  // widened or aligned samples

    // Coded data.
    CodecContextPtr decoder_;
    ParserPtr parser_;
    std::vector<std::uint8_t> parseBuffer_;  // source bytes with the zeroed tail parsers read into
    PacketPtr packet_;
    FramePtr frame_;
    std::size_t packetBytes_ = 0;
    DWORD damaged_ = 0;
};

}  // namespace acm
