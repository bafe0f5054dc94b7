// Arbitrary format blocks and sample data straight into the codec service: the
// details calls, and streams from the block to PCM and from PCM to the block.
#include "fuzz_support.h"
#include "platform/acm/acm.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace fuzzing {

namespace {

void Pump(HACMSTREAM has, const std::uint8_t* data, std::size_t size, std::uint8_t step) {
    DWORD cbSrc = 0;
    if (acmStreamSize(has, 4096, &cbSrc, ACM_STREAMSIZEF_DESTINATION) != 0) cbSrc = 4096;
    cbSrc = std::clamp<DWORD>(cbSrc, 1, 1u << 16);
    DWORD cbDstBound = 0;
    acmStreamSize(has, cbSrc, &cbDstBound, ACM_STREAMSIZEF_SOURCE);
    std::vector<BYTE> src(cbSrc), dst(4096);
    ACMSTREAMHEADER ash{};
    ash.cbStruct = sizeof ash;
    ash.pbSrc = src.data();
    ash.cbSrcLength = cbSrc;
    ash.pbDst = dst.data();
    ash.cbDstLength = static_cast<DWORD>(dst.size());
    if (acmStreamPrepareHeader(has, &ash, 0) != 0) return;
    // Feed the data in pieces of varying length, at most cbSrc each.
    std::size_t at = 0;
    const std::size_t piece = std::max<std::size_t>(1, std::min<std::size_t>(cbSrc, 1 + step * 17u));
    for (int passes = 0; at < size && passes < 256; ++passes) {
        const std::size_t n = std::min(piece, size - at);
        std::memcpy(src.data(), data + at, n);
        at += n;
        ash.cbSrcLength = static_cast<DWORD>(n);
        if (acmStreamConvert(has, &ash, 0) != 0) break;
    }
    ash.cbSrcLength = 0;
    for (int passes = 0; passes < 4096; ++passes) {
        if (acmStreamConvert(has, &ash, ACM_STREAMCONVERTF_END) != 0 || ash.cbDstLengthUsed == 0) break;
    }
    acmStreamUnprepareHeader(has, &ash, 0);
}

}  // namespace

int FuzzCodec(const std::uint8_t* data, std::size_t size) {
    if (size < 3 || size > (1u << 16)) return 0;
    const std::uint8_t step = data[0];
    const std::size_t blockSize = std::min<std::size_t>(size - 1, 18 + data[1] % 64);
    // The block lives in its own allocation so that reading past it is caught.
    std::vector<std::uint8_t> block(data + 2, data + 2 + std::min(blockSize, size - 2));
    if (block.size() < sizeof(WAVEFORMATEX)) block.resize(sizeof(WAVEFORMATEX), 0);
    auto* pwfx = reinterpret_cast<WAVEFORMATEX*>(block.data());
    const std::uint8_t* samples = data + 2 + std::min(blockSize, size - 2);
    const std::size_t cbSamples = size - static_cast<std::size_t>(samples - data);

    ACMFORMATTAGDETAILSA tag{};
    tag.cbStruct = sizeof tag;
    tag.dwFormatTag = pwfx->wFormatTag;
    acmFormatTagDetailsA(nullptr, &tag, ACM_FORMATTAGDETAILSF_FORMATTAG);
    ACMFORMATDETAILSA details{};
    details.cbStruct = sizeof details;
    details.dwFormatTag = pwfx->wFormatTag;
    details.pwfx = pwfx;
    details.cbwfx = static_cast<DWORD>(block.size());
    const bool described = acmFormatDetailsA(nullptr, &details, ACM_FORMATDETAILSF_FORMAT) == MMSYSERR_NOERROR;

    // Streams read 18 + cbSize bytes of a block: keep the field within the block.
    pwfx->cbSize = static_cast<WORD>(std::min<std::size_t>(pwfx->cbSize, block.size() - sizeof(WAVEFORMATEX)));
    const WAVEFORMATEX pcm{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    // A block that is described converts: to CD quality and to 8 kHz mono PCM.
    const WAVEFORMATEX narrow{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    for (const WAVEFORMATEX* to : {&pcm, &narrow}) {
        if (described && acmStreamOpen(nullptr, nullptr, pwfx, to, nullptr, 0, 0, ACM_STREAMOPENF_QUERY) ==
                             ACMERR_NOTPOSSIBLE)
            std::abort();
    }
    HACMSTREAM has = nullptr;
    if (acmStreamOpen(&has, nullptr, pwfx, &pcm, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) == 0) {
        Pump(has, samples, cbSamples, step);
        acmStreamClose(has, 0);
    }
    has = nullptr;
    if (acmStreamOpen(&has, nullptr, &pcm, pwfx, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) == 0) {
        Pump(has, samples, cbSamples, step);
        acmStreamClose(has, 0);
    }
    return 0;
}

}  // namespace fuzzing

#ifdef WAVTRN_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzing::FuzzCodec(data, size);
}
#endif
