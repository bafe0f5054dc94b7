// Helpers for the codec-service tests: blocks as bytes, and running streams the
// way the program's conversion loop does.
#pragma once

#include "platform/acm/acm.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace acmtest {

using Bytes = std::vector<std::uint8_t>;

const WAVEFORMATEX* Wfx(const Bytes& block);
Bytes BlockOf(const WAVEFORMATEX& header, const Bytes& extra = {});

struct Conversion {
    MMRESULT result = 0;  // the first failing call's result, or 0
    Bytes output;
    DWORD sourceChunk = 0;      // S, from the size query
    DWORD destinationChunk = 0;  // D
    int endPasses = 0;           // END passes until one gave nothing
    std::size_t endBytes = 0;    // bytes the END passes gave
    std::uint64_t framesOut = 0;  // the stream's frames out and clipped samples at the end
    std::uint64_t clipped = 0;
    MMRESULT limitResult = 0;     // acmStreamLimitFrames's answer, where a limit was asked for
};

// Converts data as the program does: open, size by destination with D from the
// destination's block alignment, passes of at most S source bytes with no flags,
// then END passes until one gives no bytes; unprepare, close. With limitFrames,
// the decoded source is cut to that many frames of data.size() bytes first.
Conversion ConvertLikeProgram(const Bytes& source, const Bytes& destination, const Bytes& data,
                              std::optional<std::uint64_t> limitFrames = {});

// Converts data in source pieces of srcPiece bytes into destination buffers of
// dstCap bytes, then drains; every pass is checked to stay within dstCap.
Conversion ConvertInPieces(const Bytes& source, const Bytes& destination, const Bytes& data, std::size_t srcPiece,
                           std::size_t dstCap);

// Interleaved 16-bit samples of little-endian bytes.
std::vector<std::int16_t> Samples16(const Bytes& bytes);
Bytes Bytes16(const std::vector<std::int16_t>& samples);

// The whole WAVE file for a block and its data.
Bytes WaveFile(const Bytes& block, const Bytes& data);

// A stream header over the whole of both buffers.
ACMSTREAMHEADER HeaderFor(Bytes& src, Bytes& dst);

}  // namespace acmtest
