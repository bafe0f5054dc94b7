// The last stage of a stream: samples in the destination's sample format are
// packed as raw PCM or float bytes, or encoded through a FIFO of whole frames;
// the bytes go into the pass's destination buffer, and what does not fit waits
// for the next pass.
#pragma once

#include "platform/acm/acm.h"
#include "platform/acm/ffmpeg_ptr.h"
#include "platform/acm/format.h"
#include "platform/acm/tags.h"

#include <cstdint>
#include <span>
#include <vector>

namespace acm {

// The destination bytes of one pass, and those that did not fit, held for the next.
class PassOutput {
public:
    // Starts a pass into destination, which first takes what the last pass held.
    void Begin(std::span<std::uint8_t> destination);
    void Emit(const std::uint8_t* bytes, std::size_t size);
    // Ends the pass: the bytes written into its destination.
    std::size_t End();
    // Whether output of an earlier pass still waits for room.
    bool Waiting() const { return pendingPos_ < pending_.size(); }

private:
    std::uint8_t* out_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
    std::vector<std::uint8_t> pending_;
    std::size_t pendingPos_ = 0;
};

class SinkStage {
public:
    // Prepares raw packing or opens the encoder for the destination block. 0, or
    // ACMERR_NOTPOSSIBLE for a block no encoder writes exactly as described, or
    // MMSYSERR_NOMEM.
    MMRESULT Open(const FormatInfo& destination);

    // The samples this stage takes: format, significant bits, and whether they are
    // rounded to 24 bits on the way out.
    AVSampleFormat Format() const { return format_; }
    unsigned Depth() const { return depth_; }
    bool Packs24() const { return pack24_; }
    bool Encodes() const { return encoder_ != nullptr; }

    PassOutput& Output() { return output_; }
    // Takes samples in Format(), interleaved or one plane per channel as the format says.
    MMRESULT Put(const std::uint8_t* const* planes, int samples);
    // Takes frames sample frames already in the destination's bytes.
    void PutRaw(const std::uint8_t* bytes, std::size_t frames);
    // Sample frames taken so far: what the destination holds, without the
    // silence an encoder pads its last frame or block with.
    std::uint64_t FramesOut() const { return framesOut_; }
    // Encodes what the FIFO still holds, padded where the codec needs whole frames,
    // and drains the encoder.
    MMRESULT Finish();

    // An upper bound of the bytes that frames destination sample frames become.
    std::uint64_t BytesFor(double frames) const;

private:
    MMRESULT OpenEncoder(const AVCodec* codec);
    MMRESULT Encode(bool flush);
    MMRESULT CompleteBlockGroup();
    MMRESULT EncodeFrame(int take);
    MMRESULT ReceivePackets();

    FormatInfo dst_;
    BlockFamily family_ = BlockFamily::Other;
    AVSampleFormat format_ = AV_SAMPLE_FMT_NONE;
    unsigned depth_ = 0;
    bool pack24_ = false;
    std::vector<std::uint8_t> packed_;  // 24-bit samples on their way out
    std::uint64_t framesOut_ = 0;

    CodecContextPtr encoder_;
    FifoPtr fifo_;     // gathers samples into whole encoder frames
    FramePtr frame_;   // the one frame each encoder frame is sent in
    PacketPtr packet_;
    int frameSize_ = 0;
    bool smallLast_ = false;  // the codec takes a short last frame as it is
    std::int64_t nextPts_ = 0;

    PassOutput output_;
};

}  // namespace acm
