// The middle stage of a stream: samples from the source stage are brought to the
// destination's channels, rate and sample format (remix, resample with soxr,
// requantise with dither where bits are dropped), with float samples that are
// not numbers or beyond full scale made safe first, and handed to the sink.
#pragma once

#include "platform/acm/acm.h"
#include "platform/acm/ffmpeg_ptr.h"
#include "platform/acm/format.h"

#include <cstdint>
#include <vector>

namespace acm {

class SinkStage;

// What a run of samples handed to the sample stage looks like.
struct SampleShape {
    AVSampleFormat format = AV_SAMPLE_FMT_NONE;
    int rate = 0;
    const AVChannelLayout* layout = nullptr;
    unsigned depth = 0;  // significant bits per sample
};

class SampleStage {
public:
    // Sets the target: the destination's rate and channels, the sink's sample
    // format; converted samples go to sink. The source's channel count stands in
    // where samples come without one.
    void Open(const FormatInfo& source, const FormatInfo& destination, SinkStage& sink);
    // Prepares the conversion from samples of this shape. 0, or ACMERR_NOTPOSSIBLE
    // when the channels cannot be mapped, or MMSYSERR_NOMEM.
    MMRESULT SetUp(const SampleShape& shape);
    // Converts samples and hands them to the sink. A new shape first flushes what
    // the resampler holds, then sets up again.
    MMRESULT Take(const SampleShape& shape, const std::uint8_t* const* planes, int samples);
    // Hands over what the resampler holds back.
    MMRESULT Flush();

private:
    MMRESULT MakeResampler(bool dither, SwrPtr* out);
    MMRESULT Process(const std::uint8_t* const* planes, int samples);
    const std::uint8_t* const* ClipFloats(const std::uint8_t* const* planes, int samples);
    bool FitsTargetDepth(const std::uint8_t* const* planes, int samples) const;
    std::uint8_t** WorkPlanes(int frames, std::uint8_t* (&planes)[kMaxChannels]);

    // The target.
    SinkStage* sink_ = nullptr;
    ChannelLayout dstLayout_;
    int dstRate_ = 0;
    unsigned fallbackChannels_ = 0;  // channels assumed where a shape's layout gives none
    AVSampleFormat targetFormat_ = AV_SAMPLE_FMT_NONE;
    unsigned targetDepth_ = 0;
    bool pack24_ = false;

    // The input as last set up.
    bool ready_ = false;
    AVSampleFormat inFormat_ = AV_SAMPLE_FMT_NONE;
    int inRate_ = 0;
    unsigned inDepth_ = 0;
    ChannelLayout inLayout_;
    bool direct_ = false;  // samples are already in the target form
    SwrPtr swr_;
    SwrPtr swrExact_;  // the same conversion without dither, for samples that already fit

    std::vector<std::uint8_t> work_;     // resampler output
    std::vector<std::uint8_t> clipped_;  // float input brought within full scale
    std::vector<const std::uint8_t*> clippedPlanes_;
};

}  // namespace acm
