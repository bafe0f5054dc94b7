// Making metadata chunks fit a destination in another format: the positions
// they count in samples at the destination's rate, and bext's coding history
// told of the conversion. Each chunk's layout is checked whole before any
// field changes, so a broken chunk stays exactly as the source had it.
#include "wave/metadata.h"

#include "platform/endian.h"

#include "wave/waveio.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

using Bytes = std::vector<BYTE>;

struct Rates {
    DWORD nFrom;  // the source's samples per second
    DWORD nTo;    // the destination's
};

// A 32-bit position at the new rate; one past 32 bits is held at the largest.
void Rescale32(Bytes& b, std::size_t at, const Rates& r) {
    const std::uint64_t n = RescaleSamples(endian::LoadLe32(&b[at]), r.nFrom, r.nTo);
    endian::StoreLe32(&b[at], static_cast<DWORD>(std::min<std::uint64_t>(n, 0xFFFFFFFFu)));
}

// "cue ": a count, then 24 bytes a point: name, position, chunk, chunk start,
// block start and sample offset.
bool AdaptCue(Bytes& b, const Rates& r) {
    if (b.size() < 4) return false;
    const DWORD cPoints = endian::LoadLe32(&b[0]);
    if ((b.size() - 4) / 24 < cPoints) return false;
    for (std::size_t i = 0; i < cPoints; ++i) {
        Rescale32(b, 4 + 24 * i + 4, r);
        Rescale32(b, 4 + 24 * i + 20, r);
    }
    return true;
}

// "smpl": 36 bytes with the sample period in nanoseconds at 8 and the loop
// count at 28, then 24 bytes a loop: identifier, type, start, end, fraction,
// play count.
bool AdaptSampler(Bytes& b, const Rates& r) {
    if (b.size() < 36 || r.nTo == 0) return false;
    const DWORD cLoops = endian::LoadLe32(&b[28]);
    if ((b.size() - 36) / 24 < cLoops) return false;
    endian::StoreLe32(&b[8], static_cast<DWORD>((1000000000ull + r.nTo / 2) / r.nTo));
    for (std::size_t i = 0; i < cLoops; ++i) {
        Rescale32(b, 36 + 24 * i + 8, r);
        Rescale32(b, 36 + 24 * i + 12, r);
    }
    return true;
}

// The coding words of a destination format, as EBU R98 writes them where it
// has them.
std::string CodingName(const WAVEFORMATEX& wfx) {
    switch (CodingTag(wfx)) {
    case WAVE_FORMAT_PCM: return "PCM";
    case WAVE_FORMAT_IEEE_FLOAT: return "FLOAT";
    case WAVE_FORMAT_ALAW: return "ALAW";
    case WAVE_FORMAT_MULAW: return "ULAW";
    case WAVE_FORMAT_IMA_ADPCM: return "IMA-ADPCM";
    case WAVE_FORMAT_ADPCM: return "MS-ADPCM";
    case WAVE_FORMAT_GSM610: return "GSM610";
    case WAVE_FORMAT_MPEGLAYER3: return wfx.nSamplesPerSec >= 32000 ? "MPEG1L3" : "MPEG2L3";
    default: {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(CodingTag(wfx)));
        return hex;
    }
    }
}

// This conversion as a line of bext's coding history:
// A=coding,F=rate[,B=kbit/s][,W=bits],M=mode,T=WAVTRN and CR LF.
std::string CodingHistoryLine(const WAVEFORMATEX& wfx) {
    std::string line = "A=" + CodingName(wfx) + ",F=" + std::to_string(wfx.nSamplesPerSec);
    if (CodingTag(wfx) == WAVE_FORMAT_MPEGLAYER3) line += ",B=" + std::to_string(wfx.nAvgBytesPerSec * 8 / 1000);
    if (wfx.wBitsPerSample > 0) line += ",W=" + std::to_string(wfx.wBitsPerSample);
    const char* mode = wfx.nChannels == 1 ? "mono" : wfx.nChannels == 2 ? "stereo" : "multichannel";
    return line + ",M=" + mode + ",T=WAVTRN\r\n";
}

// "bext": 602 bytes of fixed fields, the 64-bit time reference at 338, then
// the coding history, lines of text ending in CR LF.
constexpr std::size_t kBextFixed = 602;
constexpr std::size_t kTimeReference = 338;

bool AdaptBext(Bytes& b, const Rates& r, const WAVEFORMATEX& wfxDst) {
    if (b.size() < kBextFixed) return false;
    endian::StoreLe64(&b[kTimeReference], RescaleSamples(endian::LoadLe64(&b[kTimeReference]), r.nFrom, r.nTo));
    // NUL bytes some writers leave after the history would hide the new line.
    while (b.size() > kBextFixed && b.back() == 0) b.pop_back();
    if (b.size() > kBextFixed && b.back() != '\n') {
        b.push_back('\r');
        b.push_back('\n');
    }
    const std::string line = CodingHistoryLine(wfxDst);
    b.insert(b.end(), line.begin(), line.end());
    return true;
}

// LIST "adtl": sub-chunks "labl" and "note" (cue name, text) and "ltxt" (cue
// name, sample length at 4, purpose, country, language, dialect, code page,
// text). A sub-chunk that runs past the list breaks it.
bool AdaptLabels(Bytes& b, const Rates& r) {
    std::vector<std::size_t> lengths;
    for (std::size_t at = 4; at + 8 <= b.size();) {
        const DWORD ckid = endian::LoadLe32(&b[at]), cb = endian::LoadLe32(&b[at + 4]);
        if (cb > b.size() - at - 8) return false;
        if (ckid == mmioFOURCC('l', 't', 'x', 't')) {
            if (cb < 8) return false;
            lengths.push_back(at + 8 + 4);
        }
        at += 8 + static_cast<std::size_t>(cb) + (cb & 1);
    }
    for (std::size_t at : lengths) Rescale32(b, at, r);
    return true;
}

// One element of iXML text, <NAME>number</NAME>: where its number stands.
struct Element {
    std::size_t begin = 0, end = 0;
    std::uint64_t value = 0;
};

// The elements named so, in the text's order; false when one holds no number.
bool FindElements(const std::string& text, std::string_view name, std::vector<Element>& found) {
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "<" + string.
    std::string open = "<", close = "</";
    open.append(name).append(">");
    close.append(name).append(">");
    for (auto at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
        Element e;
        e.begin = at + open.size();
        e.end = text.find(close, e.begin);
        if (e.end == std::string::npos) return false;
        const auto first = text.find_first_not_of(" \t\r\n", e.begin);
        const auto last = text.find_last_not_of(" \t\r\n", e.end - 1);
        if (first >= e.end || last < first || last - first >= 19) return false;
        for (std::size_t i = first; i <= last; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            e.value = e.value * 10 + static_cast<unsigned>(text[i] - '0');
        }
        found.push_back(e);
    }
    return true;
}

// A count split in two 32-bit elements (NAME_HI and NAME_LO, or NAME_HIGH and NAME_LOW).
struct SplitCount {
    std::vector<Element> high, low;
    std::uint64_t Value() const {
        return (high.empty() ? 0 : high.front().value << 32) | (low.empty() ? 0 : low.front().value & 0xFFFFFFFFu);
    }
};

// Replaces the numbers of the elements, from the last so that earlier offsets hold.
void Rewrite(std::string& text, std::vector<std::pair<Element, std::uint64_t>> edits) {
    std::sort(edits.begin(), edits.end(), [](const auto& a, const auto& b) { return a.first.begin > b.first.begin; });
    for (const auto& [e, value] : edits) text.replace(e.begin, e.end - e.begin, std::to_string(value));
}

// iXML: the timestamp (samples since midnight at TIMESTAMP_SAMPLE_RATE, or at
// the file's rate when that is not given) and its rate, and the copy of
// bext's time reference, go to the destination's rate. Text that is no
// BWFXML document, or a timestamp element that holds no number, breaks it.
bool AdaptIxml(Bytes& b, const Rates& r) {
    std::string text(b.begin(), b.end());
    if (text.find("<BWFXML") == std::string::npos) return false;
    std::vector<Element> rate, midnight;
    SplitCount stamp, reference;
    if (!FindElements(text, "TIMESTAMP_SAMPLE_RATE", rate) ||
        !FindElements(text, "TIMESTAMP_SAMPLES_SINCE_MIDNIGHT", midnight) ||
        !FindElements(text, "TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI", stamp.high) ||
        !FindElements(text, "TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO", stamp.low) ||
        !FindElements(text, "BWF_TIME_REFERENCE_HIGH", reference.high) ||
        !FindElements(text, "BWF_TIME_REFERENCE_LOW", reference.low)) {
        return false;
    }
    const std::uint64_t nStampRate = rate.empty() ? r.nFrom : rate.front().value;
    if (nStampRate == 0 || nStampRate > 0xFFFFFFFFu) return false;
    const auto from = static_cast<DWORD>(nStampRate);

    std::vector<std::pair<Element, std::uint64_t>> edits;
    for (const Element& e : rate) edits.emplace_back(e, r.nTo);
    for (const Element& e : midnight) edits.emplace_back(e, RescaleSamples(e.value, from, r.nTo));
    const std::uint64_t newStamp = RescaleSamples(stamp.Value(), from, r.nTo);
    const std::uint64_t newReference = RescaleSamples(reference.Value(), r.nFrom, r.nTo);
    for (const Element& e : stamp.high) edits.emplace_back(e, newStamp >> 32);
    for (const Element& e : stamp.low) edits.emplace_back(e, newStamp & 0xFFFFFFFFu);
    for (const Element& e : reference.high) edits.emplace_back(e, newReference >> 32);
    for (const Element& e : reference.low) edits.emplace_back(e, newReference & 0xFFFFFFFFu);
    Rewrite(text, std::move(edits));
    b.assign(text.begin(), text.end());
    return true;
}

// False when the chunk's layout is broken; it is then as it was, since each
// adaptation checks the whole layout before it changes a byte.
bool AdaptChunk(MetadataChunk& chunk, const Rates& r, const WAVEFORMATEX& wfxDst) {
    switch (chunk.ckid) {
    case mmioFOURCC('c', 'u', 'e', ' '): return AdaptCue(chunk.bytes, r);
    case mmioFOURCC('s', 'm', 'p', 'l'): return AdaptSampler(chunk.bytes, r);
    case mmioFOURCC('b', 'e', 'x', 't'): return AdaptBext(chunk.bytes, r, wfxDst);
    case mmioFOURCC('i', 'X', 'M', 'L'): return AdaptIxml(chunk.bytes, r);
    case mmioFOURCC('L', 'I', 'S', 'T'):
        return chunk.fccType != mmioFOURCC('a', 'd', 't', 'l') || AdaptLabels(chunk.bytes, r);
    default: return true;
    }
}

}  // namespace

void AdaptMetadata(SourceMetadata& metadata, DWORD nSrcRate, const WAVEFORMATEX& wfxDst, Reporter& reporter) {
    const Rates rates{nSrcRate, wfxDst.nSamplesPerSec};
    for (MetadataChunk& chunk : metadata.chunks) {
        if (!chunk.fCarried) continue;
        if (AdaptChunk(chunk, rates, wfxDst)) continue;
        std::string name = FourccText(chunk.ckid);
        if (chunk.fccType != 0) name.append("/").append(FourccText(chunk.fccType));
        reporter.Note(Text::MetadataLayoutBroken, name.c_str());
    }
    // The coding history grew: the bytes the chunks take are counted again.
    metadata.cbCarried = 0;
    for (const MetadataChunk& chunk : metadata.chunks) {
        if (chunk.fCarried) metadata.cbCarried += 8 + chunk.bytes.size() + (chunk.bytes.size() & 1);
    }
}
