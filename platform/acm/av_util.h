// Small pieces the three stages of a stream share: FFmpeg results as the
// service's codes, sample formats by depth, and channel layouts of blocks.
#pragma once

#include "platform/acm/acm.h"
#include "platform/acm/ffmpeg_ptr.h"
#include "platform/acm/format.h"

namespace acm {

// An FFmpeg error as a service result: out of memory, or not possible. The
// library's own text for err is kept as the thread's last codec detail, with
// the call that failed and the codec's name when there is a codec:
// "Invalid argument (avcodec_open2 g726)".
MMRESULT FromAv(int err, const char* call, const AVCodec* codec = nullptr);
// Forgets the thread's last codec detail: each service call starts without one.
void ClearCodecDetail();

// The bits one sample of a sample format holds, 0 for formats the service never meets.
unsigned FormatDepth(AVSampleFormat format);
bool IsIntegerFormat(AVSampleFormat format);

// The packed sample format that holds a linear format's samples as they stand in
// the data chunk (24-bit samples widen to 32), and their significant bits.
AVSampleFormat LinearFormat(const FormatInfo& f);
unsigned LinearDepth(const FormatInfo& f);

// The speakers a WAVE file without positions stands for: the usual ones of the
// count (mono, stereo, quad, 5.1, 7.1); 3, 5, 7 and more channels have none and
// are mixed evenly, so no channel is dropped when the count changes.
void UsualLayout(int channels, ChannelLayout& layout);
// The block's speaker positions, or the usual ones for its channel count.
void LayoutFor(const FormatInfo& f, ChannelLayout& layout);
// A decoder's layout where it names its speakers, or the usual ones for the count.
void NormalisedLayout(const AVChannelLayout& from, int channels, ChannelLayout& layout);

}  // namespace acm
