#include "reliability.h"

#include "platform/acm/catalogue.h"
#include "support/scripted.h"
#include "wave/convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <stdexcept>

namespace reliability {

namespace fs = std::filesystem;

const char* const kChoosePcm8k = "choose PCM | 8,000 Hz, 16 ビット, モノラル\n";
const char* const kPcm8kLabel = "label 103 \"PCM 8,000 Hz, 16 ビット, モノラル\"\n";

void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b.at(at) = static_cast<std::uint8_t>(v);
    b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

namespace {

std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return b.at(at) | (b.at(at + 1) << 8) | (b.at(at + 2) << 16) | (static_cast<std::uint32_t>(b.at(at + 3)) << 24);
}

Source Encode(WORD tag) {
    const acm::CatalogueTag* entry = acm::FindTag(tag);
    if (entry == nullptr) throw std::runtime_error("no catalogue entry for the tag");
    const acm::CatalogueFormat* chosen = nullptr;
    for (const acm::CatalogueFormat& f : entry->formats) {
        if (f.Header().nSamplesPerSec == 8000 && f.Header().nChannels == 1) {
            chosen = &f;
            break;
        }
    }
    if (chosen == nullptr) throw std::runtime_error("no 8,000 Hz mono format for the tag");

    testsupport::TempDir dir;
    const Source pcm = PcmSource(4000);
    testsupport::WriteBytes(dir.file("in.wav"), testsupport::MakeWave(pcm.fmt, pcm.data));
    ScriptedBackend backend;
    SetWindowBackend(&backend);
    const int result = ConvertWave(dir.file("in.wav").c_str(), dir.file("out.wav").c_str(),
                                   reinterpret_cast<const WAVEFORMATEX*>(chosen->block.data()), testsupport::BoxReporter());
    SetWindowBackend(nullptr);
    if (result != 0) throw std::runtime_error("the starter file could not be encoded");

    // The program writes "RIFF" size "WAVE", "fmt " size block [pad], "data" size data.
    const Bytes file = testsupport::ReadBytes(dir.file("out.wav"));
    const std::uint32_t cbFmt = Get32(file, 16);
    const std::size_t dataHeader = 20 + cbFmt + (cbFmt & 1);
    const std::uint32_t cbData = Get32(file, dataHeader + 4);
    Source s;
    s.fmt.assign(file.begin() + 20, file.begin() + 20 + cbFmt);
    s.data.assign(file.begin() + static_cast<std::ptrdiff_t>(dataHeader + 8),
                  file.begin() + static_cast<std::ptrdiff_t>(dataHeader + 8 + cbData));
    return s;
}

}  // namespace

Source PcmSource(std::uint32_t frames) {
    const WAVEFORMATEX format = testsupport::PcmFormat(8000, 16, 1);
    return {testsupport::FormatBytes(format), testsupport::TestSignalBytes(format, frames)};
}

const Source& EncodedSource(WORD tag) {
    static std::map<WORD, Source> made;
    auto it = made.find(tag);
    if (it == made.end()) it = made.emplace(tag, Encode(tag)).first;
    return it->second;
}

std::string Describe(const std::string& path) { return "text 101 " + path + "\nfocus 101\nfocus 104\n"; }

std::string Execute(const std::string& src, const std::string& dst) {
    return std::string("click 107\n") + kChoosePcm8k + "text 101 " + src + "\ntext 104 " + dst + "\nclick 1\n";
}

std::string PlainBox(const std::string& text) {
    return "box icon=none caption=\"WAVTRN\" text=\"" + ScriptedBackend::Escape(text) + "\"\n";
}

std::string FirstParagraphs(const std::string& boxes) {
    std::string out;
    std::size_t from = 0;
    while (from < boxes.size()) {
        const std::size_t end = boxes.find('\n', from);
        std::string line = boxes.substr(from, end == std::string::npos ? std::string::npos : end - from + 1);
        const std::size_t blank = line.find("\\n\\n");
        if (line.rfind("box ", 0) == 0 && blank != std::string::npos) line = line.substr(0, blank) + "\"\n";
        out += line;
        if (end == std::string::npos) break;
        from = end + 1;
    }
    return out;
}

std::string BoxesOf(const std::string& transcript) {
    std::string out;
    std::size_t from = 0;
    while (from < transcript.size()) {
        const std::size_t end = transcript.find('\n', from);
        const std::string line = transcript.substr(from, end == std::string::npos ? std::string::npos : end - from + 1);
        if (line.rfind("label ", 0) != 0) out += line;
        if (end == std::string::npos) break;
        from = end + 1;
    }
    return out;
}

bool HasFailedCheck(const std::string& transcript, const std::string& expression) {
    const std::string text = "text=\"Assertion failed: " + ScriptedBackend::Escape(expression) + ", file ";
    const auto at = transcript.find(text);
    if (at == std::string::npos) return false;
    const auto lineStart = transcript.rfind('\n', at);
    const std::size_t from = lineStart == std::string::npos ? 0 : lineStart + 1;
    return transcript.compare(from, 14, "box icon=stop ") == 0;
}

std::size_t FilesIn(const fs::path& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

std::string Listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& n : names) out += n + "\n";
    return out;
}

}  // namespace reliability
