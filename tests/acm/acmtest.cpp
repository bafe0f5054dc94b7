#include "acm/acmtest.h"

#include "support/testsupport.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace acmtest {

const WAVEFORMATEX* Wfx(const Bytes& block) { return reinterpret_cast<const WAVEFORMATEX*>(block.data()); }

Bytes BlockOf(const WAVEFORMATEX& header, const Bytes& extra) {
    return testsupport::FormatBytes(header, extra);
}

namespace {

Conversion Run(const Bytes& source, const Bytes& destination, const Bytes& data, std::size_t srcPiece,
               std::size_t dstCap, bool sizeQuery, std::optional<std::uint64_t> limitFrames = {}) {
    Conversion c;
    HACMSTREAM has = nullptr;
    c.result = acmStreamOpen(&has, nullptr, Wfx(source), Wfx(destination), nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME);
    if (c.result != 0) return c;
    if (limitFrames) c.limitResult = acmStreamLimitFrames(has, *limitFrames, data.size());
    if (sizeQuery) {
        const WORD align = Wfx(destination)->nBlockAlign;
        c.destinationChunk = static_cast<DWORD>(align) * (align <= 4 ? 4096 : 32);
        c.result = acmStreamSize(has, c.destinationChunk, &c.sourceChunk, ACM_STREAMSIZEF_DESTINATION);
        if (c.result != 0) {
            acmStreamClose(has, 0);
            return c;
        }
        srcPiece = c.sourceChunk;
        dstCap = c.destinationChunk;
    }
    Bytes src(std::max<std::size_t>(srcPiece, 1)), dst(std::max<std::size_t>(dstCap, 1));
    ACMSTREAMHEADER header{};
    header.cbStruct = sizeof header;
    header.pbSrc = src.data();
    header.cbSrcLength = static_cast<DWORD>(srcPiece);
    header.pbDst = dst.data();
    header.cbDstLength = static_cast<DWORD>(dstCap);
    c.result = acmStreamPrepareHeader(has, &header, 0);
    auto pass = [&](std::size_t n, DWORD flags) {
        header.cbSrcLength = static_cast<DWORD>(n);
        const MMRESULT r = acmStreamConvert(has, &header, flags);
        if (r != 0) throw std::runtime_error("acmStreamConvert failed: " + std::to_string(r));
        if (header.cbSrcLengthUsed != n) throw std::runtime_error("source not all used");
        if (header.cbDstLengthUsed > dstCap) throw std::runtime_error("pass wrote beyond the destination length");
        c.output.insert(c.output.end(), dst.begin(), dst.begin() + header.cbDstLengthUsed);
        return header.cbDstLengthUsed;
    };
    try {
        if (c.result == 0) {
            for (std::size_t at = 0; at < data.size(); at += srcPiece) {
                const std::size_t n = std::min(srcPiece, data.size() - at);
                std::memcpy(src.data(), data.data() + at, n);
                pass(n, 0);
            }
            const std::size_t before = c.output.size();
            for (c.endPasses = 1; pass(0, ACM_STREAMCONVERTF_END) != 0; ++c.endPasses) {
                if (c.endPasses > 100000) throw std::runtime_error("drain never ends");
            }
            c.endBytes = c.output.size() - before;
        }
    } catch (const std::runtime_error&) {
        c.result = ~0u;
    }
    if (acmStreamFramesOut(has, &c.framesOut) != 0 || acmStreamClippedSamples(has, &c.clipped) != 0) c.result = ~0u;
    header.cbSrcLength = static_cast<DWORD>(srcPiece);
    acmStreamUnprepareHeader(has, &header, 0);
    if (MMRESULT r = acmStreamClose(has, 0); r != 0 && c.result == 0) c.result = r;
    return c;
}

}  // namespace

Conversion ConvertLikeProgram(const Bytes& source, const Bytes& destination, const Bytes& data,
                              std::optional<std::uint64_t> limitFrames) {
    return Run(source, destination, data, 0, 0, true, limitFrames);
}

Conversion ConvertInPieces(const Bytes& source, const Bytes& destination, const Bytes& data, std::size_t srcPiece,
                           std::size_t dstCap) {
    return Run(source, destination, data, srcPiece, dstCap, false);
}

std::vector<std::int16_t> Samples16(const Bytes& bytes) {
    std::vector<std::int16_t> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

Bytes Bytes16(const std::vector<std::int16_t>& samples) {
    Bytes out(samples.size() * 2);
    std::memcpy(out.data(), samples.data(), out.size());
    return out;
}

Bytes WaveFile(const Bytes& block, const Bytes& data) { return testsupport::MakeWave(block, data); }

ACMSTREAMHEADER HeaderFor(Bytes& src, Bytes& dst) {
    ACMSTREAMHEADER h{};
    h.cbStruct = sizeof h;
    h.pbSrc = src.data();
    h.cbSrcLength = static_cast<DWORD>(src.size());
    h.pbDst = dst.data();
    h.cbDstLength = static_cast<DWORD>(dst.size());
    return h;
}

}  // namespace acmtest
