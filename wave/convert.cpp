// Converting a source WAVE file into a new WAVE file through one codec stream.
#include "wave/convert.h"

#include "platform/endian.h"
#include "platform/kernel/lasterror.h"
#include "platform/kernel/replace.h"
#include "wave/metadata.h"
#include "wave/waveio.h"

#include <algorithm>
#include <bit>
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

// The destination's chunks, in the order they are opened. A destination
// that is not integer PCM gets a "fact" chunk with its exact length after
// "data", so readers that stop at "data" see the usual two chunks first; the
// source's metadata chunks follow.
struct DestinationChunks {
    MMCKINFO DstWaveFile{};
    MMCKINFO DstWaveFmt{};
    MMCKINFO DstWaveData{};
    bool fFact = false;
    SourceMetadata metadata;
};

// Bytes the chunks after "data" take: the form must hold them too.
constexpr std::uint64_t kFactChunkBytes = 12;

// The channel mask of an extensible block that names one speaker per channel, else 0.
DWORD FullChannelMask(const WAVEFORMATEX& wfx) {
    if (wfx.wFormatTag != WAVE_FORMAT_EXTENSIBLE || wfx.cbSize < 22) return 0;
    const DWORD mask = endian::LoadLe32(reinterpret_cast<const BYTE*>(&wfx) + sizeof(WAVEFORMATEX) + 2);
    return std::popcount(mask) == wfx.nChannels ? mask : 0;
}

// The block written as the destination's format: pwfxDst, except that an
// extensible destination with the source's channel count takes the source's
// speaker mask, since its channels are the source's, one for one.
FormatBlock DestinationFormat(const WAVEFORMATEX& wfxSrc, const WAVEFORMATEX* pwfxDst) {
    FormatBlock block;
    const auto* pb = reinterpret_cast<const BYTE*>(pwfxDst);
    block.bytes.assign(pb, pb + sizeof(WAVEFORMATEX) + pwfxDst->cbSize);
    const DWORD dwMask = FullChannelMask(wfxSrc);
    if (dwMask != 0 && wfxSrc.nChannels == pwfxDst->nChannels && FullChannelMask(*pwfxDst) != 0) {
        endian::StoreLe32(block.bytes.data() + sizeof(WAVEFORMATEX) + 2, dwMask);
    }
    return block;
}

// The frame count of the source's "fact" chunk, searched for from the end of
// the format chunk (where writers put it, before or after "data"); false when
// there is none. Leaves the file position anywhere.
bool ReadSourceFact(HMMIO hSrcWaveFile, const MMCKINFO& SrcWaveFile, std::int64_t afterFormat, std::uint64_t& cFrames) {
    if (afterFormat < 0 || mmioSeek(hSrcWaveFile, afterFormat, SEEK_SET) < 0) return false;
    MMCKINFO SrcWaveFact{};
    SrcWaveFact.ckid = mmioFOURCC('f', 'a', 'c', 't');
    if (mmioDescend(hSrcWaveFile, &SrcWaveFact, &SrcWaveFile, MMIO_FINDCHUNK) != 0 || SrcWaveFact.cksize64 < 4) {
        return false;
    }
    DWORD dwFrames = 0;
    if (mmioRead(hSrcWaveFile, reinterpret_cast<char*>(&dwFrames), sizeof dwFrames) != sizeof dwFrames) return false;
    // 0xFFFFFFFF is a 64-bit form's "see ds64"; no length is known from it.
    if (dwFrames == 0xFFFFFFFFu) return false;
    cFrames = dwFrames;
    return true;
}

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
// FFmpeg's own reason, where it gave one, is a note for those who asked.
bool CodecFailed(MMRESULT mmr, Text other, Reporter& reporter) {
    if (mmr == 0) return false;
    const std::string detail = acmLastCodecDetail();
    if (!CheckMmResult(mmr, reporter)) reporter.Message(other, mmr);
    if (!detail.empty()) reporter.Note(Text::CodecDetail, detail.c_str());
    return true;
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
    const std::uint64_t cbAfterData = (dst.fFact ? kFactChunkBytes : 0) + dst.metadata.cbCarried;
    if (fRiff && !DataFitsRiffForm(dst.DstWaveData.dwDataOffset, cbDataWritten + cbUsed + cbAfterData)) {
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

// Leaves the data chunk, writes the "fact" chunk with the frames converted
// where the destination has one and the metadata chunks, and leaves the form.
bool CloseDestinationChunks(HMMIO hDstWaveFile, DestinationChunks& dst, std::uint64_t cFrames) {
    if (mmioAscend(hDstWaveFile, &dst.DstWaveData, 0) != 0) return false;
    if (dst.fFact) {
        // A count past 32 bits says "unknown" as 64-bit forms do; the data size tells the rest.
        // Written whole, as its size is known: a chunk record could not hold
        // its offset past 4 GiB in an RF64 form.
        const DWORD dwFrames = static_cast<DWORD>(std::min<std::uint64_t>(cFrames, 0xFFFFFFFFu));
        char fact[kFactChunkBytes] = {'f', 'a', 'c', 't', 4, 0, 0, 0};
        endian::StoreLe32(fact + 8, dwFrames);
        if (mmioWrite(hDstWaveFile, fact, sizeof fact) != static_cast<LONG>(sizeof fact)) return false;
    }
    return WriteMetadata(hDstWaveFile, dst.metadata) && mmioAscend(hDstWaveFile, &dst.DstWaveFile, 0) == 0;
}

// Leaves the destination's chunks (their sizes are written), closes both
// files and puts the finished file in the destination's place.
bool FinishDestination(MmioFile& hSrcWaveFile, MmioFile& hDstWaveFile, DestinationChunks& dst, std::uint64_t cFrames,
                       PendingReplace& pending, Reporter& reporter) {
    if (!CloseDestinationChunks(hDstWaveFile.get(), dst, cFrames)) {
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

// The source's metadata chunks made ready for the destination: kept byte for
// byte when the destination has the source's very format, made to fit it
// otherwise; none with CONVERTF_NOMETADATA. False, reported, when the source
// cannot be read.
bool PrepareMetadata(HMMIO hSrcWaveFile, const MMCKINFO& SrcWaveFile, FormatBlock& pwfxSrc, FormatBlock& wfxDst,
                     DWORD fdwConvert, SourceMetadata& metadata, Reporter& reporter) {
    if ((fdwConvert & CONVERTF_NOMETADATA) != 0) return true;
    if (!ReadSourceMetadata(hSrcWaveFile, SrcWaveFile, metadata)) {
        reporter.Message(Text::ReadError);
        return false;
    }
    const WAVEFORMATEX& wfxSrc = *pwfxSrc.get();
    if (!SameFormatBlock(wfxSrc, *wfxDst.get())) AdaptMetadata(metadata, wfxSrc.nSamplesPerSec, *wfxDst.get(), reporter);
    return true;
}

// Opens the stream from the source's format to the destination's. A length
// the source states (pcSourceFrames, when it has one) is kept when it fits its
// data: the decoder's padding of the last block is cut off. An implausible one
// is ignored.
bool OpenStream(const WAVEFORMATEX* pwfxSrc, const WAVEFORMATEX* pwfxDst, const std::uint64_t* pcSourceFrames,
                std::uint64_t cbData, ConversionStream& stream, Reporter& reporter) {
    HACMSTREAM has = nullptr;
    const MMRESULT mmr = acmStreamOpen(&has, nullptr, pwfxSrc, pwfxDst, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME);
    if (CodecFailed(mmr, Text::StreamOpenFailed, reporter)) return false;
    stream.reset(has);
    if (pcSourceFrames != nullptr) acmStreamLimitFrames(has, *pcSourceFrames, cbData);
    return true;
}

// Tells what the conversion did besides converting (source blocks skipped as
// damaged, samples clipped into an integer destination, metadata left out)
// and returns the frames the stream wrote.
std::uint64_t ReportStreamOutcome(HACMSTREAM has, const SourceMetadata& metadata, Reporter& reporter) {
    ReportLeftOutMetadata(metadata, reporter);
    DWORD cDamaged = 0;
    if (acmStreamDamagedBlocks(has, &cDamaged) == 0 && cDamaged > 0) reporter.Warning(Text::DamagedBlocks, cDamaged);
    std::uint64_t cClipped = 0;
    if (acmStreamClippedSamples(has, &cClipped) == 0 && cClipped > 0) reporter.Warning(Text::ClippedSamples, cClipped);
    std::uint64_t cFrames = 0;
    acmStreamFramesOut(has, &cFrames);
    return cFrames;
}

}  // namespace

WORD CodingTag(const WAVEFORMATEX& wfx) {
    if (wfx.wFormatTag != WAVE_FORMAT_EXTENSIBLE || wfx.cbSize < 22) return wfx.wFormatTag;
    return endian::LoadLe16(reinterpret_cast<const BYTE*>(&wfx) + sizeof(WAVEFORMATEX) + 6);
}

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
                Reporter& reporter, DWORD fdwConvert) {
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
    const std::int64_t afterFormat = mmioSeek(hSrcWaveFile.get(), 0, SEEK_CUR);

    // The first "data" chunk after the format chunk; fact, LIST, PEAK and the
    // like between them are skipped.
    SrcWaveData.ckid = mmioFOURCC('d', 'a', 't', 'a');
    mmioDescend(hSrcWaveFile.get(), &SrcWaveData, &SrcWaveFile, MMIO_FINDCHUNK);
    REQUIRE(reporter, NoDataChunk, SrcWaveData.ckid==mmioStringToFOURCC("data",0), -1);
    REQUIRE(reporter, NoDestinationFormat, pwfxDst, -1);
    std::uint64_t cSourceFrames = 0;
    const bool fSourceFact = ReadSourceFact(hSrcWaveFile.get(), SrcWaveFile, afterFormat, cSourceFrames);
    FormatBlock wfxDst = DestinationFormat(*pwfxSrc.get(), pwfxDst);
    DestinationChunks dst;
    if (!PrepareMetadata(hSrcWaveFile.get(), SrcWaveFile, pwfxSrc, wfxDst, fdwConvert, dst.metadata, reporter)) return -1;
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
    dst.fFact = CodingTag(*wfxDst.get()) != WAVE_FORMAT_PCM;
    const bool fRf64 = OutputMayPassRiffLimit(*pwfxSrc.get(), *wfxDst.get(), cbData, dst.metadata.cbCarried);
    if (!WriteDestinationHead(hDstWaveFile.get(), wfxDst.get(), fRf64, dst, reporter)) return -1;

    ConversionStream stream;
    if (!OpenStream(pwfxSrc.get(), wfxDst.get(), fSourceFact ? &cSourceFrames : nullptr, cbData, stream, reporter)) {
        return -1;
    }
    HACMSTREAM has = stream.get();

    ConversionBuffers buffers;
    ACMSTREAMHEADER ash{};
    if (!PrepareBuffers(has, *pwfxSrc.get(), *wfxDst.get(), buffers, ash, reporter)) return -1;
    PreparedHeader prepared{has, &ash};

    if (!ConvertData(hSrcWaveFile.get(), cbData, has, ash, hDstWaveFile.get(), dst, reporter)) return -1;
    const std::uint64_t cFrames = ReportStreamOutcome(has, dst.metadata, reporter);

    prepared.Unprepare();
    buffers = {};
    if (CodecFailed(acmStreamClose(stream.release(), 0), Text::CodecFailed, reporter)) return -1;

    mmioAscend(hSrcWaveFile.get(), &SrcWaveData, 0);
    mmioAscend(hSrcWaveFile.get(), &SrcWaveFile, 0);
    return FinishDestination(hSrcWaveFile, hDstWaveFile, dst, cFrames, pending, reporter) ? 0 : -1;
}
