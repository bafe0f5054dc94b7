// The middle stage of a stream: samples from the source stage are brought to the
// destination's channels, rate and sample format (remix, resample with soxr,
// requantise with dither where bits are dropped) and handed to the sink. Float
// samples keep their headroom wherever the destination holds floats; where it
// does not, they clip after the resampler, and the clipped samples are counted.
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
    // Float samples clipped so far on their way into the destination.
    std::uint64_t Clipped() const { return clipped_; }

private:
    // One libswresample conversion into the destination's rate and channels.
    struct Conversion {
        AVSampleFormat from = AV_SAMPLE_FMT_NONE, to = AV_SAMPLE_FMT_NONE;
        int fromRate = 0;
        AVChannelLayout* fromLayout = nullptr;  // the API reads it through a pointer to non-const
        AVSampleFormat internal = AV_SAMPLE_FMT_FLTP;
        int precision = 0;  // soxr's bits when the rate changes, else 0
        bool dither = false;
    };
    // Where float samples beyond what the destination holds are counted and
    // brought to full scale (before an integer conversion, which would
    // otherwise overflow on huge values).
    enum class Headroom {
        Kept,        // integer samples, or a float destination: nothing clips
        ClipBefore,  // the rate and channels stay: as they come
        ClipAfter,   // resampled or remixed: in float, after the resampler
    };

    void InputLayout(const AVChannelLayout& from, int channels, ChannelLayout& layout) const;
    MMRESULT MakeConversions(bool sameLayout);
    MMRESULT MakeResampler(const Conversion& c, SwrPtr* out);
    MMRESULT Process(const std::uint8_t* const* planes, int samples);
    MMRESULT Deliver(std::uint8_t** planes, int frames);
    const std::uint8_t* const* CheckFloats(const std::uint8_t* const* planes, int samples);
    bool FitsTargetDepth(const std::uint8_t* const* planes, int samples) const;
    std::uint8_t** Planes(std::vector<std::uint8_t>& buffer, AVSampleFormat format, int frames,
                          std::uint8_t* (&planes)[kMaxChannels]);

    // The target.
    SinkStage* sink_ = nullptr;
    ChannelLayout dstLayout_;
    int dstRate_ = 0;
    unsigned fallbackChannels_ = 0;  // channels assumed where a shape's layout gives none
    AVSampleFormat targetFormat_ = AV_SAMPLE_FMT_NONE;
    unsigned targetDepth_ = 0;
    bool pack24_ = false;
    bool floatsClip_ = false;  // the destination holds no float samples
    double fitLow_ = -1.0, fitHigh_ = 1.0;  // float values in [fitLow_, fitHigh_) fit the destination

    // The input as last set up.
    bool ready_ = false;
    AVSampleFormat inFormat_ = AV_SAMPLE_FMT_NONE;
    int inRate_ = 0;
    unsigned inDepth_ = 0;
    ChannelLayout inLayout_;
    bool direct_ = false;  // samples are already in the target form
    Headroom headroom_ = Headroom::Kept;
    AVSampleFormat betweenFormat_ = AV_SAMPLE_FMT_NONE;  // float samples between two conversions
    SwrPtr swr_;
    SwrPtr swrExact_;  // the same conversion without dither, for samples that already fit
    SwrPtr swrOut_;    // clipped float samples between two conversions into integers

    std::vector<std::uint8_t> work_;     // conversion output
    std::vector<std::uint8_t> between_;  // float samples between two conversions
    std::vector<std::uint8_t> checked_;  // float input made safe or clipped
    std::vector<const std::uint8_t*> checkedPlanes_;
    std::uint64_t clipped_ = 0;
};

}  // namespace acm
