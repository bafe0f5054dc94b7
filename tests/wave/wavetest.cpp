#include "wavetest.h"

#include "platform/mmio/mmio.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace wavetest {

void Append(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

void AppendU32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t U32At(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::uint16_t U16At(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8)); }

Bytes Chunk(const std::string& id, std::uint32_t sizeField, const Bytes& data) {
    Bytes out;
    Append(out, id);
    AppendU32(out, sizeField);
    out.insert(out.end(), data.begin(), data.end());
    if (data.size() % 2 != 0) out.push_back(0);
    return out;
}

Bytes Chunk(const std::string& id, const Bytes& data) {
    return Chunk(id, static_cast<std::uint32_t>(data.size()), data);
}

Bytes Form(const std::string& formType, const std::vector<Bytes>& chunks, const std::string& riffId) {
    Bytes body;
    Append(body, formType);
    for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
    Bytes out;
    Append(out, riffId);
    AppendU32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes MakeWaveBytes(const WAVEFORMATEX& format, const Bytes& data) {
    return testsupport::MakeWave(testsupport::FormatBytes(format), data);
}

namespace {
std::string EscapeQuotes(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}
}  // namespace

std::string FailedCheck(const std::string& expression) {
    return "text=\"Assertion failed: " + EscapeQuotes(expression) + ", file ";
}

bool HasFailedCheck(const std::string& transcript, const std::string& expression) {
    const auto at = transcript.find(FailedCheck(expression));
    if (at == std::string::npos) return false;
    const auto lineStart = transcript.rfind('\n', at);
    const std::string head = transcript.substr(lineStart == std::string::npos ? 0 : lineStart + 1, 14);
    return head == "box icon=stop ";
}

int CountOf(const std::string& text, const std::string& needle) {
    int n = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

std::pair<std::string, std::string> Names(const WAVEFORMATEX& format, const Bytes& extra) {
    ACMFORMATTAGDETAILSA tag{};
    tag.cbStruct = sizeof tag;
    tag.dwFormatTag = format.wFormatTag;
    EXPECT_EQ(acmFormatTagDetailsA(nullptr, &tag, ACM_FORMATTAGDETAILSF_FORMATTAG), 0u) << format.wFormatTag;
    Bytes block = testsupport::FormatBytes(format, extra);
    ACMFORMATDETAILSA details{};
    details.cbStruct = sizeof details;
    details.dwFormatTag = format.wFormatTag;
    details.pwfx = reinterpret_cast<WAVEFORMATEX*>(block.data());
    details.cbwfx = static_cast<DWORD>(block.size());
    EXPECT_EQ(acmFormatDetailsA(nullptr, &details, ACM_FORMATDETAILSF_FORMAT), 0u) << format.wFormatTag;
    return {tag.szFormatTag, details.szFormat};
}

std::string ChooseLine(const WAVEFORMATEX& format, const Bytes& extra) {
    const auto [tag, name] = Names(format, extra);
    return "choose " + tag + " | " + name + "\n";
}

WaveLayout ReadLayout(const std::string& path) {
    WaveLayout layout;
    std::error_code ec;
    layout.fileSize = std::filesystem::file_size(path, ec);
    struct Closer {
        void operator()(HMMIO h) const { mmioClose(h, 0); }
    };
    std::unique_ptr<MMIO, Closer> f(mmioOpenA(path.c_str(), nullptr, MMIO_READ));
    if (!f) {
        layout.error = "cannot open";
        return layout;
    }
    MMCKINFO riff{};
    if (mmioDescend(f.get(), &riff, nullptr, 0) != 0 || riff.ckid != mmioStringToFOURCC("RIFF", 0) ||
        riff.fccType != mmioStringToFOURCC("WAVE", 0)) {
        layout.error = "no RIFF/WAVE form";
        return layout;
    }
    layout.riffSize = riff.cksize;
    const std::uint64_t formEnd = 8ull + riff.cksize;
    for (;;) {
        MMCKINFO ck{};
        if (mmioDescend(f.get(), &ck, &riff, 0) != 0) break;
        if (ck.dwDataOffset - 8ull >= formEnd) break;
        const std::string id(reinterpret_cast<const char*>(&ck.ckid), 4);
        layout.chunkIds.push_back(id);
        if (id == "fmt ") {
            layout.fmtSize = ck.cksize;
            layout.fmt.assign(ck.cksize, 0);
            if (mmioRead(f.get(), reinterpret_cast<char*>(layout.fmt.data()), static_cast<LONG>(ck.cksize)) !=
                static_cast<LONG>(ck.cksize)) {
                layout.error = "short format chunk";
                return layout;
            }
        } else if (id == "data") {
            layout.dataOffset = ck.dwDataOffset;
            layout.dataSize = ck.cksize;
        }
        if (mmioAscend(f.get(), &ck, 0) != 0) break;
    }
    layout.ok = true;
    return layout;
}

}  // namespace wavetest
