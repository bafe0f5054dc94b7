// Reading the head of a source WAVE file and describing its format.
#include "wave/convert.h"
#include "wave/waveio.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// True when the file's first bytes cannot be read at all (an I/O error, not a
// short or foreign file), the last error saying why.
bool HeadUnreadable(HMMIO hSrcWaveFile) {
    char head[12];
    return mmioSeek(hSrcWaveFile, 0, SEEK_SET) != 0 || mmioRead(hSrcWaveFile, head, sizeof head) < 0;
}

}  // namespace

bool ReadSourceFormat(HMMIO hSrcWaveFile, MMCKINFO& SrcWaveFile, MMCKINFO& SrcWaveFmt, FormatBlock& pwfxSrc,
                      Reporter& reporter) {
    if (mmioDescend(hSrcWaveFile, &SrcWaveFile, nullptr, 0) != 0 && HeadUnreadable(hSrcWaveFile)) {
        reporter.SystemErrorIn(Text::ReadContext);
        return false;
    }
    REQUIRE(reporter, NotRiffWave, SrcWaveFile.ckid==mmioStringToFOURCC("RIFF",MMIO_TOUPPER), false);
    REQUIRE(reporter, NotRiffWave, SrcWaveFile.fccType==mmioStringToFOURCC("WAVE",MMIO_TOUPPER), false);

    // The first "fmt " chunk of the form, wherever it stands: chunks before it
    // (JUNK, LIST, bext, ds64, ...) are skipped.
    SrcWaveFmt.ckid = mmioFOURCC('f', 'm', 't', ' ');
    mmioDescend(hSrcWaveFile, &SrcWaveFmt, &SrcWaveFile, MMIO_FINDCHUNK);
    REQUIRE(reporter, NoFormatChunk, SrcWaveFmt.ckid==mmioStringToFOURCC("fmt ",0), false);
    // No format block is longer than a WAVEFORMATEX with 65535 extra bytes.
    REQUIRE(reporter, FormatChunkTooLarge, SrcWaveFmt.cksize<=sizeof(WAVEFORMATEX)+0xFFFF, false);

    // The block is never shorter than a WAVEFORMATEX; bytes the chunk or the
    // file does not hold stay zero, so a 16-byte PCM chunk gets cbSize 0.
    pwfxSrc.bytes.assign(std::max<DWORD>(SrcWaveFmt.cksize, sizeof(WAVEFORMATEX)), 0);
    mmioRead(hSrcWaveFile, reinterpret_cast<char*>(pwfxSrc.bytes.data()), static_cast<LONG>(SrcWaveFmt.cksize));
    WAVEFORMATEX* pwfx = pwfxSrc.get();
    const DWORD cbExtraHeld = pwfxSrc.size() - sizeof(WAVEFORMATEX);
    if (pwfx->cbSize > cbExtraHeld) pwfx->cbSize = static_cast<WORD>(cbExtraHeld);

    mmioAscend(hSrcWaveFile, &SrcWaveFmt, 0);
    return true;
}

bool ReadSourceFormatOf(const char* path, FormatBlock& pwfxSrc) {
    MmioFile hSrcWaveFile(mmioOpenA(path, nullptr, MMIO_READ));
    if (!hSrcWaveFile) return false;
    MMCKINFO SrcWaveFile{};
    MMCKINFO SrcWaveFmt{};
    SilentReporter quiet;
    return ReadSourceFormat(hSrcWaveFile.get(), SrcWaveFile, SrcWaveFmt, pwfxSrc, quiet);
}

namespace {

// Bytes a second of a format takes: rate times block for samples stored as
// they are, otherwise the byte rate the block states (0 when unknown). Plain
// PCM of 8 bits or fewer is read one byte a channel, whatever its block says,
// so its block is counted so too.
double ByteRate(const WAVEFORMATEX& wfx) {
    const bool linear = wfx.wFormatTag == WAVE_FORMAT_PCM || wfx.wFormatTag == WAVE_FORMAT_IEEE_FLOAT ||
                        wfx.wFormatTag == WAVE_FORMAT_EXTENSIBLE;
    const bool bytes = wfx.wFormatTag == WAVE_FORMAT_PCM && wfx.wBitsPerSample != 0 && wfx.wBitsPerSample <= 8;
    if (linear) return static_cast<double>(wfx.nSamplesPerSec) * (bytes ? wfx.nChannels : wfx.nBlockAlign);
    return wfx.nAvgBytesPerSec;
}

}  // namespace

bool OutputMayPassRiffLimit(const WAVEFORMATEX& wfxSrc, const WAVEFORMATEX& wfxDst, std::uint64_t cbSrcData,
                            std::uint64_t cbAfterData) {
    const double srcRate = ByteRate(wfxSrc), dstRate = ByteRate(wfxDst);
    // A rate that is not known gives no ratio: the output is taken to be as long as the source.
    const double ratio = srcRate > 0 && dstRate > 0 ? dstRate / srcRate : 1.0;
    constexpr double kMargin = 1.01;
    constexpr double kHeadroom = 1 << 20;
    return static_cast<double>(cbSrcData) * ratio * kMargin + kHeadroom + static_cast<double>(cbAfterData) >
           0xFFFFFFFFu;
}

SourceFormat DescribeSourceFormat(const char* path, Reporter& reporter, std::string& description) {
    MmioFile hSrcWaveFile(mmioOpenA(path, nullptr, MMIO_READ));
    if (!hSrcWaveFile) return SourceFormat::NotOpened;

    MMCKINFO SrcWaveFile{};
    MMCKINFO SrcWaveFmt{};
    FormatBlock pwfxSrc;
    if (!ReadSourceFormat(hSrcWaveFile.get(), SrcWaveFile, SrcWaveFmt, pwfxSrc, reporter)) {
        return SourceFormat::FailedCheck;
    }

    ACMFORMATTAGDETAILSA aftd{};
    aftd.cbStruct = sizeof aftd;
    aftd.dwFormatTag = pwfxSrc.get()->wFormatTag;
    if (acmFormatTagDetailsA(nullptr, &aftd, ACM_FORMATTAGDETAILSF_FORMATTAG) == 0) {
        std::snprintf(szMessage, sizeof szMessage, "%.*s", static_cast<int>(sizeof aftd.szFormatTag),
                      aftd.szFormatTag);
    } else {
        std::snprintf(szMessage, sizeof szMessage, "%s", DialogText(Text::Unknown));
    }
    std::strncat(szMessage, " ", sizeof szMessage - std::strlen(szMessage) - 1);

    ACMFORMATDETAILSA afd{};
    afd.cbStruct = sizeof afd;
    afd.dwFormatTag = pwfxSrc.get()->wFormatTag;
    afd.pwfx = pwfxSrc.get();
    afd.cbwfx = pwfxSrc.size();
    const char* szFormat = DialogText(Text::Unknown);
    if (acmFormatDetailsA(nullptr, &afd, ACM_FORMATDETAILSF_FORMAT) == 0) {
        afd.szFormat[sizeof afd.szFormat - 1] = '\0';
        szFormat = afd.szFormat;
    }
    std::strncat(szMessage, szFormat, sizeof szMessage - std::strlen(szMessage) - 1);

    description = szMessage;
    return SourceFormat::Described;
}
