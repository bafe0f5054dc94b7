// The codec service's calls: checks of their records and flags and the registry
// of open streams. The chooser is in chooser.cpp, with the window services.
#include "platform/acm/acm.h"

#include "platform/acm/calls.h"
#include "platform/acm/av_util.h"
#include "platform/acm/catalogue.h"
#include "platform/acm/format.h"
#include "platform/acm/stream.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

using acm::CopyName;
using acm::WholeBlock;
using acm::Guarded;

namespace {

// Open streams by handle value. Handles are serial numbers, never addresses, so a
// closed or made-up handle is recognised without touching memory.
struct StreamRegistry {
    std::mutex mutex;
    std::map<std::uintptr_t, std::unique_ptr<acm::Stream>> streams;
    std::uintptr_t next = 0x5A000;
};

StreamRegistry& Registry() {
    static StreamRegistry registry;
    return registry;
}

acm::Stream* FindStream(HACMSTREAM has) {
    StreamRegistry& r = Registry();
    std::lock_guard lock(r.mutex);
    auto it = r.streams.find(reinterpret_cast<std::uintptr_t>(has));
    return it == r.streams.end() ? nullptr : it->second.get();
}

// Whether streams from the block open to the chooser's default PCM format and to
// its narrowest one: a block is named only when it converts, so a file whose
// format is described never fails to open a stream.
MMRESULT OpensToPcm(std::span<const std::uint8_t> block) {
    for (const acm::Block& pcm : {acm::MakePcmBlock(WAVE_FORMAT_PCM, 44100, 16, 2),
                                  acm::MakePcmBlock(WAVE_FORMAT_PCM, 8000, 16, 1)}) {
        std::unique_ptr<acm::Stream> stream;
        if (MMRESULT r = acm::Stream::Open(block, pcm, &stream); r != 0) return r;
    }
    return MMSYSERR_NOERROR;
}

// Header fields the service keeps for itself in a prepared stream header.
constexpr int kHeaderStream = 0, kHeaderSrcLength = 1, kHeaderDstLength = 2;

}  // namespace

MMRESULT acmMetrics(HACMOBJ hao, UINT uMetric, void* pMetric) {
    return Guarded([&]() -> MMRESULT {
        if (hao != nullptr) return MMSYSERR_INVALHANDLE;
        if (pMetric == nullptr || uMetric != ACM_METRIC_MAX_SIZE_FORMAT) return MMSYSERR_INVALPARAM;
        const DWORD size = acm::MaxFormatSize();
        std::memcpy(pMetric, &size, sizeof size);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT acmFormatTagDetailsA(HACMDRIVER had, ACMFORMATTAGDETAILSA* paftd, DWORD fdwDetails) {
    return Guarded([&]() -> MMRESULT {
        if (had != nullptr) return MMSYSERR_INVALHANDLE;
        if (paftd == nullptr || paftd->cbStruct < sizeof(ACMFORMATTAGDETAILSA)) return MMSYSERR_INVALPARAM;
        if (fdwDetails != ACM_FORMATTAGDETAILSF_FORMATTAG) return MMSYSERR_INVALFLAG;
        if (paftd->dwFormatTag > 0xFFFF) return ACMERR_NOTPOSSIBLE;
        const acm::CatalogueTag* tag = acm::FindTag(static_cast<WORD>(paftd->dwFormatTag));
        if (tag == nullptr) return ACMERR_NOTPOSSIBLE;
        const auto& all = acm::Catalogue();
        paftd->dwFormatTagIndex = static_cast<DWORD>(tag - all.data());
        paftd->dwFormatTag = tag->tag;
        paftd->cbFormatSize = tag->cbFormatSize;
        paftd->fdwSupport = tag->fdwSupport;
        paftd->cStandardFormats = static_cast<DWORD>(tag->formats.size());
        CopyName(paftd->szFormatTag, tag->name);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT acmFormatDetailsA(HACMDRIVER had, ACMFORMATDETAILSA* pafd, DWORD fdwDetails) {
    return Guarded([&]() -> MMRESULT {
        if (had != nullptr) return MMSYSERR_INVALHANDLE;
        if (pafd == nullptr || pafd->cbStruct < sizeof(ACMFORMATDETAILSA)) return MMSYSERR_INVALPARAM;
        if (fdwDetails != ACM_FORMATDETAILSF_FORMAT) return MMSYSERR_INVALFLAG;
        if (pafd->pwfx == nullptr) return MMSYSERR_INVALPARAM;
        acm::FormatInfo info;
        if (MMRESULT r = acm::ParseFormat(pafd->pwfx, pafd->cbwfx, &info); r != 0) return r;
        if (pafd->dwFormatTag != info.tag) return MMSYSERR_INVALPARAM;
        const acm::CatalogueTag* tag = acm::FindTag(info.tag);
        if (tag == nullptr) return ACMERR_NOTPOSSIBLE;
        // An extensible block is described by its sub-format, which must be known too.
        if (info.codingTag != info.tag && acm::FindTag(info.codingTag) == nullptr) return ACMERR_NOTPOSSIBLE;
        if (MMRESULT r = OpensToPcm(info.block); r != 0) return r;
        pafd->fdwSupport = tag->fdwSupport;
        CopyName(pafd->szFormat, acm::FormatName(info, acm::NameWords()));
        return MMSYSERR_NOERROR;
    });
}

MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WAVEFORMATEX* pwfxSrc, const WAVEFORMATEX* pwfxDst,
                       WAVEFILTER* pwfltr, DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen) {
    (void)dwInstance;
    return Guarded([&]() -> MMRESULT {
        if (phas != nullptr) *phas = nullptr;
        if (had != nullptr) return MMSYSERR_INVALHANDLE;
        if ((fdwOpen & ~(ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_NONREALTIME)) != 0) return MMSYSERR_INVALFLAG;
        if (pwfxSrc == nullptr || pwfxDst == nullptr) return MMSYSERR_INVALPARAM;
        if (pwfltr != nullptr || dwCallback != 0) return ACMERR_NOTPOSSIBLE;
        const bool query = (fdwOpen & ACM_STREAMOPENF_QUERY) != 0;
        if (!query && phas == nullptr) return MMSYSERR_INVALPARAM;
        std::unique_ptr<acm::Stream> stream;
        if (MMRESULT r = acm::Stream::Open(WholeBlock(pwfxSrc), WholeBlock(pwfxDst), &stream); r != 0) return r;
        if (query) return MMSYSERR_NOERROR;
        StreamRegistry& reg = Registry();
        std::lock_guard lock(reg.mutex);
        const std::uintptr_t id = reg.next++;
        reg.streams.emplace(id, std::move(stream));
        *phas = reinterpret_cast<HACMSTREAM>(id);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, DWORD* pdwOutputBytes, DWORD fdwSize) {
    return Guarded([&]() -> MMRESULT {
        acm::Stream* stream = FindStream(has);
        if (stream == nullptr) return MMSYSERR_INVALHANDLE;
        if (fdwSize != ACM_STREAMSIZEF_SOURCE && fdwSize != ACM_STREAMSIZEF_DESTINATION) return MMSYSERR_INVALFLAG;
        if (pdwOutputBytes == nullptr || cbInput == 0) return MMSYSERR_INVALPARAM;
        *pdwOutputBytes = fdwSize == ACM_STREAMSIZEF_DESTINATION ? stream->SourceBytesFor(cbInput)
                                                                 : stream->DestinationBytesFor(cbInput);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwPrepare) {
    return Guarded([&]() -> MMRESULT {
        if (FindStream(has) == nullptr) return MMSYSERR_INVALHANDLE;
        if (fdwPrepare != 0) return MMSYSERR_INVALFLAG;
        if (pash == nullptr || pash->cbStruct < sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
        if ((pash->pbSrc == nullptr && pash->cbSrcLength != 0) || (pash->pbDst == nullptr && pash->cbDstLength != 0))
            return MMSYSERR_INVALPARAM;
        if ((pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) != 0) return MMSYSERR_INVALPARAM;
        pash->dwReservedDriver[kHeaderStream] = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(has));
        pash->dwReservedDriver[kHeaderSrcLength] = pash->cbSrcLength;
        pash->dwReservedDriver[kHeaderDstLength] = pash->cbDstLength;
        pash->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwConvert) {
    return Guarded([&]() -> MMRESULT {
        acm::Stream* stream = FindStream(has);
        if (stream == nullptr) return MMSYSERR_INVALHANDLE;
        if ((fdwConvert & ~ACM_STREAMCONVERTF_END) != 0) return MMSYSERR_INVALFLAG;
        if (pash == nullptr || pash->cbStruct < sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
        // The header must have been prepared on this stream, with buffers at least as
        // large as the lengths now given.
        if ((pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) == 0 ||
            pash->dwReservedDriver[kHeaderStream] != static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(has)) ||
            pash->cbSrcLength > pash->dwReservedDriver[kHeaderSrcLength] ||
            pash->cbDstLength > pash->dwReservedDriver[kHeaderDstLength])
            return MMSYSERR_INVALPARAM;
        if ((pash->pbSrc == nullptr && pash->cbSrcLength != 0) || (pash->pbDst == nullptr && pash->cbDstLength != 0))
            return MMSYSERR_INVALPARAM;
        std::size_t used = 0;
        const MMRESULT r = stream->Convert({pash->pbSrc, pash->cbSrcLength}, {pash->pbDst, pash->cbDstLength},
                                           (fdwConvert & ACM_STREAMCONVERTF_END) != 0, &used);
        pash->cbSrcLengthUsed = r == MMSYSERR_NOERROR ? pash->cbSrcLength : 0;
        pash->cbDstLengthUsed = static_cast<DWORD>(used);
        return r;
    });
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwUnprepare) {
    return Guarded([&]() -> MMRESULT {
        if (FindStream(has) == nullptr) return MMSYSERR_INVALHANDLE;
        if (fdwUnprepare != 0) return MMSYSERR_INVALFLAG;
        if (pash == nullptr || pash->cbStruct < sizeof(ACMSTREAMHEADER) ||
            (pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) == 0 ||
            pash->dwReservedDriver[kHeaderStream] != static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(has)))
            return MMSYSERR_INVALPARAM;
        pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose) {
    return Guarded([&]() -> MMRESULT {
        std::unique_ptr<acm::Stream> closing;
        {
            StreamRegistry& reg = Registry();
            std::lock_guard lock(reg.mutex);
            auto it = reg.streams.find(reinterpret_cast<std::uintptr_t>(has));
            if (it == reg.streams.end()) return MMSYSERR_INVALHANDLE;
            if (fdwClose != 0) return MMSYSERR_INVALFLAG;
            closing = std::move(it->second);
            reg.streams.erase(it);
        }
        return MMSYSERR_NOERROR;
    });
}

namespace {

// Writes one of a stream's counts through pcCount.
template <typename Count, typename Read>
MMRESULT StreamCount(HACMSTREAM has, Count* pcCount, Read read) {
    return Guarded([&]() -> MMRESULT {
        const acm::Stream* stream = FindStream(has);
        if (stream == nullptr) return MMSYSERR_INVALHANDLE;
        if (pcCount == nullptr) return MMSYSERR_INVALPARAM;
        *pcCount = read(*stream);
        return MMSYSERR_NOERROR;
    });
}

}  // namespace

MMRESULT acmStreamDamagedBlocks(HACMSTREAM has, DWORD* pcDamaged) {
    return StreamCount(has, pcDamaged, [](const acm::Stream& s) { return s.DamagedBlocks(); });
}

MMRESULT acmStreamFramesOut(HACMSTREAM has, std::uint64_t* pcFrames) {
    return StreamCount(has, pcFrames, [](const acm::Stream& s) { return s.FramesOut(); });
}

MMRESULT acmStreamClippedSamples(HACMSTREAM has, std::uint64_t* pcClipped) {
    return StreamCount(has, pcClipped, [](const acm::Stream& s) { return s.ClippedSamples(); });
}

MMRESULT acmStreamLimitFrames(HACMSTREAM has, std::uint64_t cFrames, std::uint64_t cbSourceData) {
    return Guarded([&]() -> MMRESULT {
        acm::Stream* stream = FindStream(has);
        if (stream == nullptr) return MMSYSERR_INVALHANDLE;
        return stream->LimitFrames(cFrames, cbSourceData);
    });
}
