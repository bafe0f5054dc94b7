// The fields of LIST/INFO and bext chunks, named in words, for a listing.
#include "wave/metadata.h"

#include "platform/endian.h"

#include <algorithm>
#include <cstring>

namespace {

struct InfoWord {
    FOURCC ckid;
    Text word;
};

constexpr InfoWord kInfoWords[] = {
    {mmioFOURCC('I', 'N', 'A', 'M'), Text::FieldTitle},      {mmioFOURCC('I', 'A', 'R', 'T'), Text::FieldArtist},
    {mmioFOURCC('I', 'P', 'R', 'D'), Text::FieldAlbum},      {mmioFOURCC('I', 'T', 'R', 'K'), Text::FieldTrack},
    {mmioFOURCC('I', 'P', 'R', 'T'), Text::FieldTrack},      {mmioFOURCC('I', 'G', 'N', 'R'), Text::FieldGenre},
    {mmioFOURCC('I', 'C', 'R', 'D'), Text::FieldDate},       {mmioFOURCC('I', 'C', 'M', 'T'), Text::FieldComment},
    {mmioFOURCC('I', 'C', 'O', 'P'), Text::FieldCopyright},  {mmioFOURCC('I', 'E', 'N', 'G'), Text::FieldEngineer},
    {mmioFOURCC('I', 'T', 'C', 'H'), Text::FieldTechnician}, {mmioFOURCC('I', 'S', 'F', 'T'), Text::FieldSoftware},
    {mmioFOURCC('I', 'S', 'B', 'J'), Text::FieldSubject},    {mmioFOURCC('I', 'K', 'E', 'Y'), Text::FieldKeywords},
    {mmioFOURCC('I', 'S', 'R', 'C'), Text::FieldSource},
};

Text InfoFieldWord(FOURCC ckid) {
    for (const InfoWord& w : kInfoWords)
        if (w.ckid == ckid) return w.word;
    return Text::Count;
}

// Text of at most cb bytes at offset at, ending at its first NUL byte.
std::string TextAt(const std::vector<BYTE>& b, std::size_t at, std::size_t cb) {
    const auto* p = reinterpret_cast<const char*>(b.data() + at);
    return std::string(p, strnlen(p, std::min(cb, b.size() - at)));
}

std::vector<MetadataField> InfoFields(const std::vector<BYTE>& b) {
    std::vector<MetadataField> fields;
    for (std::size_t at = 4; at + 8 <= b.size();) {
        const DWORD ckid = endian::LoadLe32(&b[at]), cb = endian::LoadLe32(&b[at + 4]);
        if (cb > b.size() - at - 8) break;
        fields.push_back({InfoFieldWord(ckid), ckid, TextAt(b, at + 8, cb)});
        at += 8 + static_cast<std::size_t>(cb) + (cb & 1);
    }
    return fields;
}

// The fixed fields of "bext" with their offsets and lengths, and its coding
// history one line a field.
std::vector<MetadataField> BextFields(const std::vector<BYTE>& b) {
    std::vector<MetadataField> fields;
    if (b.size() < 602) return fields;
    const struct {
        Text word;
        std::size_t at, cb;
    } texts[] = {
        {Text::FieldDescription, 0, 256},     {Text::FieldOriginator, 256, 32},
        {Text::FieldOriginatorReference, 288, 32}, {Text::FieldOriginationDate, 320, 10},
        {Text::FieldOriginationTime, 330, 8},
    };
    for (const auto& t : texts) {
        std::string value = TextAt(b, t.at, t.cb);
        if (!value.empty()) fields.push_back({t.word, 0, std::move(value)});
    }
    const std::uint64_t timeReference = endian::LoadLe64(&b[338]);
    const WORD version = endian::LoadLe16(&b[346]);
    fields.push_back({Text::FieldTimeReference, 0, std::to_string(timeReference)});
    fields.push_back({Text::FieldVersion, 0, std::to_string(version)});
    const std::string history = TextAt(b, 602, b.size() - 602);
    for (std::size_t at = 0; at < history.size();) {
        std::size_t end = history.find('\n', at);
        if (end == std::string::npos) end = history.size();
        std::string line = history.substr(at, end - at);
        while (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) fields.push_back({Text::FieldCodingHistory, 0, std::move(line)});
        at = end + 1;
    }
    return fields;
}

}  // namespace

std::vector<MetadataField> MetadataFields(const MetadataChunk& chunk) {
    if (!chunk.fCarried) return {};
    if (chunk.ckid == mmioFOURCC('L', 'I', 'S', 'T') && chunk.fccType == mmioFOURCC('I', 'N', 'F', 'O')) {
        return InfoFields(chunk.bytes);
    }
    if (chunk.ckid == mmioFOURCC('b', 'e', 'x', 't')) return BextFields(chunk.bytes);
    return {};
}
