// One conversion stream: decode, resample, remix, requantise, encode.
#pragma once

#include "platform/acm/acm.h"
#include "platform/acm/ffmpeg_ptr.h"
#include "platform/acm/format.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace acm {

class Stream {
public:
    // Opens a stream from the source block to the destination block (each 18 +
    // cbSize bytes). 0 and *stream set; ACMERR_NOTPOSSIBLE for a pair it cannot
    // convert or a malformed block; MMSYSERR_NOMEM.
    static MMRESULT Open(std::span<const std::uint8_t> source, std::span<const std::uint8_t> destination,
                         std::unique_ptr<Stream>* stream);
    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Converts all of source, writing at most destination.size() bytes; output that
    // does not fit waits for the next pass. With end set, the decoder, resampler and
    // encoder are drained after the source is taken.
    // The two may share memory: a pass-through then converts in place.
    MMRESULT Convert(std::span<const std::uint8_t> source, std::span<std::uint8_t> destination, bool end,
                     std::size_t* destinationUsed);

    // Source bytes, whole source blocks and at least one, whose conversion fits
    // destinationBytes (on average over passes where a resampler buffers).
    DWORD SourceBytesFor(DWORD destinationBytes) const;
    // An upper bound of the destination bytes that sourceBytes give.
    DWORD DestinationBytesFor(DWORD sourceBytes) const;

private:
    Stream() = default;
    MMRESULT OpenSource();
    MMRESULT OpenDestination();
    MMRESULT SetUpConversion(AVSampleFormat format, int rate, const AVChannelLayout& layout, unsigned depth);

    bool TopUpCarry(std::span<const std::uint8_t>& source);
    MMRESULT FeedRaw(std::span<const std::uint8_t> source);
    MMRESULT ProcessRaw(const std::uint8_t* bytes, std::size_t frames);
    MMRESULT FeedDecoder(std::span<const std::uint8_t> source);
    MMRESULT DecodePacket(const std::uint8_t* bytes, std::size_t size);
    MMRESULT ReceiveFrames();
    MMRESULT Process(const std::uint8_t* const* planes, int samples);
    bool FitsTargetDepth(const std::uint8_t* const* planes, int samples) const;
    const std::uint8_t* const* ClipFloats(const std::uint8_t* const* planes, int samples);
    MMRESULT FlushResampler();
    MMRESULT Deliver(const std::uint8_t* const* planes, int samples);
    MMRESULT Encode(bool flush);
    MMRESULT ReceivePackets();
    MMRESULT Drain();
    void Emit(const std::uint8_t* bytes, std::size_t size);

    double SourceFramesFor(std::uint64_t sourceBytes) const;
    std::uint64_t DestinationBytesForFrames(double sourceFrames) const;

    Block srcBlock_, dstBlock_;
    FormatInfo src_, dst_;

    // Source: raw samples or a decoder fed whole blocks (or a parser's frames).
    AVSampleFormat rawFormat_ = AV_SAMPLE_FMT_NONE;
    bool unpack24_ = false;
    Block carry_;  // a partial source block waiting for the rest
    CodecContextPtr decoder_;
    ParserPtr parser_;
    std::vector<std::uint8_t> parseBuffer_;  // source bytes with the zeroed tail parsers read into
    PacketPtr packet_;
    FramePtr frame_;
    std::size_t packetBytes_ = 0;

    // Sample conversion into the destination's sample format, rate and layout.
    AVChannelLayout dstLayout_{};
    AVSampleFormat targetFormat_ = AV_SAMPLE_FMT_NONE;
    unsigned targetDepth_ = 0;
    bool pack24_ = false;
    bool passthrough_ = false;  // raw source bytes are already destination bytes
    bool converterReady_ = false;
    bool direct_ = false;  // decoded samples are already in the target form
    AVSampleFormat inFormat_ = AV_SAMPLE_FMT_NONE;
    int inRate_ = 0;
    AVChannelLayout inLayout_{};
    SwrPtr swr_;
    SwrPtr swrExact_;  // the same conversion without dither, for samples that already fit
    unsigned inDepth_ = 0;
    std::vector<std::uint8_t> work_;
    std::vector<std::uint8_t> scratch_;
    std::vector<std::uint8_t> clipped_;                 // float input brought within full scale
    std::vector<const std::uint8_t*> clippedPlanes_;

    // Destination encoder with a FIFO that gathers whole frames.
    CodecContextPtr encoder_;
    FifoPtr fifo_;
    std::int64_t nextPts_ = 0;

    // Output of the current pass, and what did not fit.
    std::uint8_t* out_ = nullptr;
    std::size_t outCap_ = 0;
    std::size_t outUsed_ = 0;
    std::vector<std::uint8_t> pending_;
    std::vector<std::uint8_t> sourceCopy_;  // a source sharing the destination's memory, when it must move
    std::size_t pendingPos_ = 0;
    bool drained_ = false;
};

}  // namespace acm
