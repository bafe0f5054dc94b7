// Converting a source WAVE file into a new WAVE file through one codec stream.
#include "wave/convert.h"

#include "app/report.h"
#include "platform/kernel/lasterror.h"
#include "platform/kernel/replace.h"
#include "wave/messages.h"
#include "wave/waveio.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

struct FreeDeleter {
    void operator()(BYTE* p) const { std::free(p); }
};
using ConversionBuffer = std::unique_ptr<BYTE[], FreeDeleter>;

ConversionBuffer AllocateBuffer(DWORD cb) { return ConversionBuffer(static_cast<BYTE*>(std::calloc(cb, 1))); }

// Closes the stream on scope exit unless the success path closed it already.
struct StreamCloser {
    void operator()(HACMSTREAM__* has) const { acmStreamClose(has, 0); }
};
using ConversionStream = std::unique_ptr<HACMSTREAM__, StreamCloser>;

// Unprepares the stream header on scope exit, before its buffers are released.
struct PreparedHeader {
    HACMSTREAM has = nullptr;
    ACMSTREAMHEADER* pash = nullptr;
    ~PreparedHeader() {
        if (has != nullptr) acmStreamUnprepareHeader(has, pash, 0);
    }
    void Unprepare() {
        if (has != nullptr) acmStreamUnprepareHeader(has, pash, 0);
        has = nullptr;
    }
};

void ShowWaveMessage(WaveMessage id) { ShowMessage(WaveMessageText(id)); }

void ShowCodecFailure(WaveMessage id, MMRESULT mmr) {
    std::snprintf(szMessage, sizeof szMessage, WaveMessageText(id), static_cast<unsigned>(mmr));
    ShowMessage(szMessage);
}

// A write to the destination failed outside the data loop (chunk headers,
// size patches, the final close): a full disk says so, anything else shows
// the system's code.
void ReportWriteFailure() {
    if (GetLastError() == ERROR_DISK_FULL) {
        ShowWaveMessage(WaveMessage::DiskFull);
    } else {
        ReportLastError(WaveMessageText(WaveMessage::WriteContext));
    }
}

// A codec-service result that ends the conversion: the five named failures
// show their name, any other nonzero code the generic text with the code.
bool CodecFailed(MMRESULT mmr, WaveMessage other) {
    if (CheckMmResult(mmr)) return true;
    if (mmr != 0) {
        ShowCodecFailure(other, mmr);
        return true;
    }
    return false;
}

// The source data bytes the file really holds: the data chunk's size, or less
// when the file ends first (a streaming writer's placeholder size).
std::uint64_t SourceDataPresent(HMMIO hSrcWaveFile, const MMCKINFO& SrcWaveData) {
    const std::int64_t cbFile = mmioSeek(hSrcWaveFile, 0, SEEK_END);
    mmioSeek(hSrcWaveFile, SrcWaveData.dwDataOffset, SEEK_SET);
    if (cbFile < 0) return SrcWaveData.cksize64;
    const std::uint64_t cbAfter = static_cast<std::uint64_t>(cbFile) - std::min<std::uint64_t>(cbFile, SrcWaveData.dwDataOffset);
    return std::min(SrcWaveData.cksize64, cbAfter);
}

// Appends the codec's output of one pass to the data chunk. Only a plain RIFF
// form has a 4 GiB limit.
bool AppendOutput(HMMIO hDstWaveFile, const MMCKINFO& DstWaveFile, const MMCKINFO& DstWaveData,
                  const ACMSTREAMHEADER& ash, std::uint64_t& cbDataWritten) {
    const DWORD cbUsed = std::min(ash.cbDstLengthUsed, ash.cbDstLength);
    if (cbUsed == 0) return true;
    const bool fRiff = DstWaveFile.ckid == mmioFOURCC('R', 'I', 'F', 'F');
    if (fRiff && !DataFitsRiffForm(DstWaveData.dwDataOffset, cbDataWritten + cbUsed)) {
        ShowWaveMessage(WaveMessage::TooLarge);
        return false;
    }
    const LONG cbWritten = mmioWrite(hDstWaveFile, reinterpret_cast<const char*>(ash.pbDst), static_cast<LONG>(cbUsed));
    if (cbWritten != static_cast<LONG>(cbUsed)) {
        ShowWaveMessage(WaveMessage::DiskFull);
        return false;
    }
    cbDataWritten += cbUsed;
    return true;
}

}  // namespace

bool CheckMmResult(MMRESULT mmr) {
    const char* name = nullptr;
    switch (mmr) {
        case MMSYSERR_INVALHANDLE: name = "MMSYSERR_INVALHANDLE"; break;
        case MMSYSERR_NOMEM: name = "MMSYSERR_NOMEM"; break;
        case MMSYSERR_INVALFLAG: name = "MMSYSERR_INVALFLAG"; break;
        case MMSYSERR_INVALPARAM: name = "MMSYSERR_INVALPARAM"; break;
        case ACMERR_NOTPOSSIBLE: name = "ACMERR_NOTPOSSIBLE"; break;
        default: return false;
    }
    ShowMessage(name);
    return true;
}

int ConvertWave(const char* sourcePath, const char* destinationPath, const WAVEFORMATEX* pwfxDst) {
    // Declared in the order of acquisition, so that leaving early releases the
    // stream header, buffers and stream before the chunks' files, and removes
    // the unfinished destination last.
    MmioFile hSrcWaveFile(mmioOpenA(sourcePath, nullptr, MMIO_READ));
    REQUIRE(hSrcWaveFile, -1);

    MMCKINFO SrcWaveFile{};
    MMCKINFO SrcWaveFmt{};
    MMCKINFO SrcWaveData{};
    FormatBlock pwfxSrc;
    if (!ReadSourceFormat(hSrcWaveFile.get(), SrcWaveFile, SrcWaveFmt, pwfxSrc)) return -1;

    // The first "data" chunk after the format chunk; fact, LIST, PEAK and the
    // like between them are skipped.
    SrcWaveData.ckid = mmioFOURCC('d', 'a', 't', 'a');
    mmioDescend(hSrcWaveFile.get(), &SrcWaveData, &SrcWaveFile, MMIO_FINDCHUNK);
    REQUIRE(SrcWaveData.ckid==mmioStringToFOURCC("data",0), -1);
    REQUIRE(pwfxDst, -1);

    // The file written is a temporary one beside the destination, put in its
    // place only when the conversion is complete.
    PendingReplace pending;
    ReplaceGuard keepDestinationUntilDone(pending);
    MmioFile hDstWaveFile(BeginReplace(destinationPath, pending)
                              ? mmioOpenA(pending.writePath.c_str(), nullptr, MMIO_CREATE | MMIO_WRITE)
                              : nullptr);
    REQUIRE(hDstWaveFile, -1);

    MMCKINFO DstWaveFile{};
    MMCKINFO DstWaveFmt{};
    MMCKINFO DstWaveData{};
    const LONG cbwfxDst = static_cast<LONG>(sizeof(WAVEFORMATEX) + pwfxDst->cbSize);
    // An output that may pass what a RIFF form holds is an RF64 form from the start.
    const bool fRf64 = OutputMayPassRiffLimit(*pwfxSrc.get(), *pwfxDst, SourceDataPresent(hSrcWaveFile.get(), SrcWaveData));
    DstWaveFile.fccType = mmioStringToFOURCC("WAVE", 0);
    DstWaveFmt.ckid = mmioStringToFOURCC("fmt ", 0);
    DstWaveData.ckid = mmioStringToFOURCC("data", 0);
    if (mmioCreateChunk(hDstWaveFile.get(), &DstWaveFile, fRf64 ? MMIO_CREATERF64 : MMIO_CREATERIFF) != 0 ||
        mmioCreateChunk(hDstWaveFile.get(), &DstWaveFmt, 0) != 0 ||
        mmioWrite(hDstWaveFile.get(), reinterpret_cast<const char*>(pwfxDst), cbwfxDst) != cbwfxDst ||
        mmioAscend(hDstWaveFile.get(), &DstWaveFmt, 0) != 0 ||
        mmioCreateChunk(hDstWaveFile.get(), &DstWaveData, 0) != 0) {
        ReportWriteFailure();
        return -1;
    }

    HACMSTREAM has = nullptr;
    MMRESULT mmr = acmStreamOpen(&has, nullptr, pwfxSrc.get(), pwfxDst, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME);
    if (CodecFailed(mmr, WaveMessage::StreamOpenFailed)) return -1;
    ConversionStream stream(has);

    const DWORD cbDst = DestinationBufferSize(pwfxDst->nBlockAlign);
    DWORD cbSrc = 0;
    mmr = acmStreamSize(has, cbDst, &cbSrc, ACM_STREAMSIZEF_DESTINATION);
    if (CheckMmResult(mmr)) return -1;
    if (mmr != 0 || cbDst == 0 || cbSrc == 0) {
        ShowWaveMessage(WaveMessage::NoBufferSize);
        return -1;
    }

    ConversionBuffer pbDst = AllocateBuffer(cbDst);
    ConversionBuffer pbSrc = AllocateBuffer(cbSrc);
    if (!pbDst || !pbSrc) {
        ShowWaveMessage(WaveMessage::OutOfMemory);
        return -1;
    }

    ACMSTREAMHEADER ash{};
    ash.cbStruct = sizeof ash;
    ash.pbSrc = pbSrc.get();
    ash.cbSrcLength = cbSrc;
    ash.pbDst = pbDst.get();
    ash.cbDstLength = cbDst;
    mmr = acmStreamPrepareHeader(has, &ash, 0);
    if (CodecFailed(mmr, WaveMessage::CodecFailed)) return -1;
    PreparedHeader prepared{has, &ash};

    // One read, one conversion and one write per pass, until the data chunk
    // or the file ends, whichever comes first.
    std::uint64_t cbRemaining = SrcWaveData.cksize64;
    std::uint64_t cbDataWritten = 0;
    const DWORD cbReadMax = std::min<DWORD>(cbSrc, 0x7FFFFFFF);
    while (cbRemaining > 0) {
        const DWORD cbRead = static_cast<DWORD>(std::min<std::uint64_t>(cbReadMax, cbRemaining));
        const LONG cbGot = mmioRead(hSrcWaveFile.get(), reinterpret_cast<char*>(pbSrc.get()), static_cast<LONG>(cbRead));
        if (cbGot < 0) {
            ShowWaveMessage(WaveMessage::ReadError);
            return -1;
        }
        if (cbGot == 0) break;
        cbRemaining -= static_cast<DWORD>(cbGot);

        ash.cbSrcLength = static_cast<DWORD>(cbGot);
        ash.cbSrcLengthUsed = 0;
        ash.cbDstLengthUsed = 0;
        mmr = acmStreamConvert(has, &ash, 0);
        if (CodecFailed(mmr, WaveMessage::CodecFailed)) return -1;
        if (!AppendOutput(hDstWaveFile.get(), DstWaveFile, DstWaveData, ash, cbDataWritten)) return -1;
        if (static_cast<DWORD>(cbGot) < cbRead) break;
    }

    // Drain what the codec still holds (partial frames, resampler delay).
    for (;;) {
        ash.cbSrcLength = 0;
        ash.cbSrcLengthUsed = 0;
        ash.cbDstLengthUsed = 0;
        mmr = acmStreamConvert(has, &ash, ACM_STREAMCONVERTF_END);
        if (CodecFailed(mmr, WaveMessage::CodecFailed)) return -1;
        if (ash.cbDstLengthUsed == 0) break;
        if (!AppendOutput(hDstWaveFile.get(), DstWaveFile, DstWaveData, ash, cbDataWritten)) return -1;
    }

    prepared.Unprepare();
    pbSrc.reset();
    pbDst.reset();
    mmr = acmStreamClose(stream.release(), 0);
    if (CodecFailed(mmr, WaveMessage::CodecFailed)) return -1;

    mmioAscend(hSrcWaveFile.get(), &SrcWaveData, 0);
    mmioAscend(hSrcWaveFile.get(), &SrcWaveFile, 0);
    if (mmioAscend(hDstWaveFile.get(), &DstWaveData, 0) != 0 || mmioAscend(hDstWaveFile.get(), &DstWaveFile, 0) != 0) {
        ReportWriteFailure();
        return -1;
    }
    mmioClose(hSrcWaveFile.release(), 0);
    if (mmioClose(hDstWaveFile.release(), 0) != 0) {
        ReportWriteFailure();
        return -1;
    }
    if (!CommitReplace(pending)) {
        ReportLastError(WaveMessageText(WaveMessage::ReplaceContext));
        return -1;
    }
    return 0;
}
