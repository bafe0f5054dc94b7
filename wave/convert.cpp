// Converting a source WAVE file into a new WAVE file through one codec stream.
#include "wave/convert.h"

#include "platform/kernel/lasterror.h"
#include "platform/kernel/replace.h"
#include "wave/waveio.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct FreeDeleter {
    void operator()(BYTE* p) const { std::free(p); }
};
using ConversionBuffer = std::unique_ptr<BYTE[], FreeDeleter>;

ConversionBuffer AllocateBuffer(DWORD cb) { return ConversionBuffer(static_cast<BYTE*>(std::calloc(cb, 1))); }

// True when both blocks describe one format, extra bytes and all.
bool SameFormatBlock(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
    return a.cbSize == b.cbSize && std::memcmp(&a, &b, sizeof(WAVEFORMATEX) + a.cbSize) == 0;
}

// Closes the stream on scope exit unless the success path closed it already.
struct StreamCloser {
    void operator()(HACMSTREAM__* has) const { acmStreamClose(has, 0); }
};
using ConversionStream = std::unique_ptr<HACMSTREAM__, StreamCloser>;

// Unprepares the stream header on scope exit, before its buffers are released.
struct PreparedHeader {
    HACMSTREAM has = nullptr;
    ACMSTREAMHEADER* pash = nullptr;
    ~PreparedHeader() { Unprepare(); }
    void Unprepare() {
        if (has != nullptr) acmStreamUnprepareHeader(has, pash, 0);
        has = nullptr;
    }
};

// The destination's three chunks, in the order they are opened.
struct DestinationChunks {
    MMCKINFO DstWaveFile{};
    MMCKINFO DstWaveFmt{};
    MMCKINFO DstWaveData{};
};

// A write to the destination failed: a full disk says so, anything else (an
// I/O error, a reader that went away) shows the system's code.
void ReportWriteFailure(Reporter& reporter) {
    if (GetLastError() == ERROR_DISK_FULL) {
        reporter.Message(Text::DiskFull);
    } else {
        reporter.SystemErrorIn(Text::WriteContext);
    }
}

// A codec-service result that ends the conversion: the five named failures
// show their name, any other nonzero code the generic text with the code.
bool CodecFailed(MMRESULT mmr, Text other, Reporter& reporter) {
    if (CheckMmResult(mmr, reporter)) return true;
    if (mmr != 0) {
        reporter.Message(other, mmr);
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
    const auto cbEnd = static_cast<std::uint64_t>(cbFile);
    return std::min(SrcWaveData.cksize64, cbEnd - std::min<std::uint64_t>(cbEnd, SrcWaveData.dwDataOffset));
}

// Writes the RIFF form (RF64 when the output may pass 4 GiB), the format
// chunk holding pwfxDst, and the head of the data chunk.
bool WriteDestinationHead(HMMIO hDstWaveFile, const WAVEFORMATEX* pwfxDst, bool fRf64, DestinationChunks& dst,
                          Reporter& reporter) {
    const LONG cbwfxDst = static_cast<LONG>(sizeof(WAVEFORMATEX) + pwfxDst->cbSize);
    dst.DstWaveFile.fccType = mmioStringToFOURCC("WAVE", 0);
    dst.DstWaveFmt.ckid = mmioStringToFOURCC("fmt ", 0);
    dst.DstWaveData.ckid = mmioStringToFOURCC("data", 0);
    if (mmioCreateChunk(hDstWaveFile, &dst.DstWaveFile, fRf64 ? MMIO_CREATERF64 : MMIO_CREATERIFF) != 0 ||
        mmioCreateChunk(hDstWaveFile, &dst.DstWaveFmt, 0) != 0 ||
        mmioWrite(hDstWaveFile, reinterpret_cast<const char*>(pwfxDst), cbwfxDst) != cbwfxDst ||
        mmioAscend(hDstWaveFile, &dst.DstWaveFmt, 0) != 0 || mmioCreateChunk(hDstWaveFile, &dst.DstWaveData, 0) != 0) {
        ReportWriteFailure(reporter);
        return false;
    }
    return true;
}

// The two conversion buffers: D bytes for the destination, S for the source.
struct ConversionBuffers {
    ConversionBuffer pbSrc;
    ConversionBuffer pbDst;
};

// Sizes the buffers (D from the destination's block alignment, S from the
// size query), allocates them and prepares the stream header that describes
// them. A destination in the source's very format is converted in place: the
// pass reads into the buffer it writes, and the codec leaves the bytes there.
bool PrepareBuffers(HACMSTREAM has, const WAVEFORMATEX& wfxSrc, const WAVEFORMATEX& wfxDst,
                    ConversionBuffers& buffers, ACMSTREAMHEADER& ash, Reporter& reporter) {
    const DWORD cbDst = DestinationBufferSize(wfxDst.nBlockAlign);
    DWORD cbSrc = 0;
    const MMRESULT mmr = acmStreamSize(has, cbDst, &cbSrc, ACM_STREAMSIZEF_DESTINATION);
    if (CheckMmResult(mmr, reporter)) return false;
    if (mmr != 0 || cbDst == 0 || cbSrc == 0) {
        reporter.Message(Text::NoBufferSize);
        return false;
    }

    const bool fSameFormat = SameFormatBlock(wfxSrc, wfxDst);
    buffers.pbDst = AllocateBuffer(fSameFormat ? std::max(cbDst, cbSrc) : cbDst);
    buffers.pbSrc = AllocateBuffer(fSameFormat ? 0 : cbSrc);
    if (!buffers.pbDst || (!fSameFormat && !buffers.pbSrc)) {
        reporter.Message(Text::OutOfMemory);
        return false;
    }

    ash = ACMSTREAMHEADER{};
    ash.cbStruct = sizeof ash;
    ash.pbSrc = fSameFormat ? buffers.pbDst.get() : buffers.pbSrc.get();
    ash.cbSrcLength = cbSrc;
    ash.pbDst = buffers.pbDst.get();
    ash.cbDstLength = cbDst;
    return !CodecFailed(acmStreamPrepareHeader(has, &ash, 0), Text::CodecFailed, reporter);
}

// Appends the codec's output of one pass to the data chunk. Only a plain RIFF
// form has a 4 GiB limit.
bool AppendOutput(HMMIO hDstWaveFile, const DestinationChunks& dst, const ACMSTREAMHEADER& ash,
                  std::uint64_t& cbDataWritten, Reporter& reporter) {
    const DWORD cbUsed = std::min(ash.cbDstLengthUsed, ash.cbDstLength);
    if (cbUsed == 0) return true;
    const bool fRiff = dst.DstWaveFile.ckid == mmioFOURCC('R', 'I', 'F', 'F');
    if (fRiff && !DataFitsRiffForm(dst.DstWaveData.dwDataOffset, cbDataWritten + cbUsed)) {
        reporter.Message(Text::TooLarge);
        return false;
    }
    const LONG cbWritten = mmioWrite(hDstWaveFile, reinterpret_cast<const char*>(ash.pbDst), static_cast<LONG>(cbUsed));
    if (cbWritten != static_cast<LONG>(cbUsed)) {
        ReportWriteFailure(reporter);
        return false;
    }
    cbDataWritten += cbUsed;
    return true;
}

// The passes: one read, one conversion and one write each, until the data
// chunk or the file ends, whichever comes first; then the codec is drained of
// what it still holds (partial frames, resampler delay). The reporter hears
// the progress after every pass and may stop the conversion.
bool ConvertData(HMMIO hSrcWaveFile, std::uint64_t cbData, HACMSTREAM has, ACMSTREAMHEADER& ash, HMMIO hDstWaveFile,
                 const DestinationChunks& dst, Reporter& reporter) {
    const DWORD cbReadMax = std::min<DWORD>(ash.cbSrcLength, 0x7FFFFFFF);
    std::uint64_t cbRemaining = cbData;
    std::uint64_t cbDataWritten = 0;
    while (cbRemaining > 0) {
        const DWORD cbRead = static_cast<DWORD>(std::min<std::uint64_t>(cbReadMax, cbRemaining));
        const LONG cbGot = mmioRead(hSrcWaveFile, reinterpret_cast<char*>(ash.pbSrc), static_cast<LONG>(cbRead));
        if (cbGot < 0) {
            reporter.Message(Text::ReadError);
            return false;
        }
        if (cbGot == 0) break;
        cbRemaining -= static_cast<DWORD>(cbGot);

        ash.cbSrcLength = static_cast<DWORD>(cbGot);
        ash.cbSrcLengthUsed = 0;
        ash.cbDstLengthUsed = 0;
        if (CodecFailed(acmStreamConvert(has, &ash, 0), Text::CodecFailed, reporter)) return false;
        if (!AppendOutput(hDstWaveFile, dst, ash, cbDataWritten, reporter)) return false;
        if (!reporter.Progress(cbData - cbRemaining, cbData)) {
            reporter.Message(Text::Cancelled);
            return false;
        }
        if (static_cast<DWORD>(cbGot) < cbRead) break;
    }
    for (;;) {
        ash.cbSrcLength = 0;
        ash.cbSrcLengthUsed = 0;
        ash.cbDstLengthUsed = 0;
        if (CodecFailed(acmStreamConvert(has, &ash, ACM_STREAMCONVERTF_END), Text::CodecFailed, reporter)) return false;
        if (ash.cbDstLengthUsed == 0) return true;
        if (!AppendOutput(hDstWaveFile, dst, ash, cbDataWritten, reporter)) return false;
    }
}

// Leaves the destination's chunks (their sizes are written), closes both
// files and puts the finished file in the destination's place.
bool FinishDestination(MmioFile& hSrcWaveFile, MmioFile& hDstWaveFile, DestinationChunks& dst,
                       PendingReplace& pending, Reporter& reporter) {
    if (mmioAscend(hDstWaveFile.get(), &dst.DstWaveData, 0) != 0 ||
        mmioAscend(hDstWaveFile.get(), &dst.DstWaveFile, 0) != 0) {
        ReportWriteFailure(reporter);
        return false;
    }
    mmioClose(hSrcWaveFile.release(), 0);
    if (mmioClose(hDstWaveFile.release(), 0) != 0) {
        ReportWriteFailure(reporter);
        return false;
    }
    // The commit flushes the file to disk first, where a full disk may show.
    if (!CommitReplace(pending)) {
        if (GetLastError() == ERROR_DISK_FULL) {
            reporter.Message(Text::DiskFull);
        } else {
            reporter.SystemErrorIn(Text::ReplaceContext);
        }
        return false;
    }
    return true;
}

}  // namespace

bool CheckMmResult(MMRESULT mmr, Reporter& reporter) {
    switch (mmr) {
    case MMSYSERR_INVALHANDLE: reporter.Message(Text::InvalidHandle); return true;
    case MMSYSERR_NOMEM: reporter.Message(Text::NoMemory); return true;
    case MMSYSERR_INVALFLAG: reporter.Message(Text::InvalidFlag); return true;
    case MMSYSERR_INVALPARAM: reporter.Message(Text::InvalidParam); return true;
    case ACMERR_NOTPOSSIBLE: reporter.Message(Text::NotPossible); return true;
    default: return false;
    }
}

int ConvertWave(const char* sourcePath, const char* destinationPath, const WAVEFORMATEX* pwfxDst,
                Reporter& reporter) {
    // Declared in the order of acquisition, so that leaving early releases the
    // stream header, buffers and stream before the chunks' files, and removes
    // the unfinished destination last.
    MmioFile hSrcWaveFile(mmioOpenA(sourcePath, nullptr, MMIO_READ));
    REQUIRE(reporter, CannotOpenSource, hSrcWaveFile, -1);

    MMCKINFO SrcWaveFile{};
    MMCKINFO SrcWaveFmt{};
    MMCKINFO SrcWaveData{};
    FormatBlock pwfxSrc;
    if (!ReadSourceFormat(hSrcWaveFile.get(), SrcWaveFile, SrcWaveFmt, pwfxSrc, reporter)) return -1;

    // The first "data" chunk after the format chunk; fact, LIST, PEAK and the
    // like between them are skipped.
    SrcWaveData.ckid = mmioFOURCC('d', 'a', 't', 'a');
    mmioDescend(hSrcWaveFile.get(), &SrcWaveData, &SrcWaveFile, MMIO_FINDCHUNK);
    REQUIRE(reporter, NoDataChunk, SrcWaveData.ckid==mmioStringToFOURCC("data",0), -1);
    REQUIRE(reporter, NoDestinationFormat, pwfxDst, -1);
    const std::uint64_t cbData = SourceDataPresent(hSrcWaveFile.get(), SrcWaveData);

    // The file written is a temporary one beside the destination, put in its
    // place only when the conversion is complete.
    PendingReplace pending;
    ReplaceGuard keepDestinationUntilDone(pending);
    MmioFile hDstWaveFile(BeginReplace(destinationPath, pending) ? mmioOpenFd(OpenReplaceTarget(pending), MMIO_WRITE)
                                                                 : nullptr);
    REQUIRE(reporter, CannotCreateDestination, hDstWaveFile, -1);
    // A device written in place is no file of ours to remove.
    if (!pending.direct) reporter.Writing(pending.tempPath.c_str());

    // An output that may pass what a RIFF form holds is an RF64 form from the start.
    DestinationChunks dst;
    const bool fRf64 = OutputMayPassRiffLimit(*pwfxSrc.get(), *pwfxDst, cbData);
    if (!WriteDestinationHead(hDstWaveFile.get(), pwfxDst, fRf64, dst, reporter)) return -1;

    HACMSTREAM has = nullptr;
    MMRESULT mmr = acmStreamOpen(&has, nullptr, pwfxSrc.get(), pwfxDst, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME);
    if (CodecFailed(mmr, Text::StreamOpenFailed, reporter)) return -1;
    ConversionStream stream(has);

    ConversionBuffers buffers;
    ACMSTREAMHEADER ash{};
    if (!PrepareBuffers(has, *pwfxSrc.get(), *pwfxDst, buffers, ash, reporter)) return -1;
    PreparedHeader prepared{has, &ash};

    if (!ConvertData(hSrcWaveFile.get(), cbData, has, ash, hDstWaveFile.get(), dst, reporter)) return -1;

    // Blocks the codec could not read were skipped, not converted: say how many.
    DWORD cDamaged = 0;
    if (acmStreamDamagedBlocks(has, &cDamaged) == 0 && cDamaged > 0) reporter.Warning(Text::DamagedBlocks, cDamaged);

    prepared.Unprepare();
    buffers = {};
    if (CodecFailed(acmStreamClose(stream.release(), 0), Text::CodecFailed, reporter)) return -1;

    mmioAscend(hSrcWaveFile.get(), &SrcWaveData, 0);
    mmioAscend(hSrcWaveFile.get(), &SrcWaveFile, 0);
    return FinishDestination(hSrcWaveFile, hDstWaveFile, dst, pending, reporter) ? 0 : -1;
}
