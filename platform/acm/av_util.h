// Small pieces the three stages of a stream share: FFmpeg results as the
// service's codes, sample formats by depth, and channel layouts of blocks.
#pragma once

#include "platform/acm/acm.h"
#include "platform/acm/ffmpeg_ptr.h"
#include "platform/acm/format.h"

namespace acm {

// An FFmpeg error as a service result: out of memory, or not possible.
MMRESULT FromAv(int err);

// The bits one sample of a sample format holds, 0 for formats the service never meets.
unsigned FormatDepth(AVSampleFormat format);
bool IsIntegerFormat(AVSampleFormat format);

// The packed sample format that holds a linear format's samples as they stand in
// the data chunk (24-bit samples widen to 32), and their significant bits.
AVSampleFormat LinearFormat(const FormatInfo& f);
unsigned LinearDepth(const FormatInfo& f);

// The block's speaker positions, or FFmpeg's default order for its channel count.
void LayoutFor(const FormatInfo& f, ChannelLayout& layout);
// A layout that names its speakers where FFmpeg knows any for the count, so
// channels can be remixed by position.
void NormalisedLayout(const AVChannelLayout& from, int channels, ChannelLayout& layout);

}  // namespace acm
