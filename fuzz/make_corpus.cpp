// wavtrn-fuzz-corpus TARGET DIR: writes one valid input per catalogue format for
// a fuzz target (riff, convert or codec), made by converting a short test signal
// into each format the chooser offers; the riff and convert targets also get
// a file of each tag, depth and channel count as RIFX and as Wave64.
#include "fuzz_support.h"
#include "platform/acm/catalogue.h"
#include "wave/convert.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

void PutLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// 0.1 s of 44,100 Hz 16-bit stereo: two tones.
std::vector<std::uint8_t> TestSource() {
    std::vector<std::uint8_t> data;
    for (int i = 0; i < 4410; ++i) {
        for (int c = 0; c < 2; ++c) {
            const double v = 0.4 * std::sin(2 * M_PI * (440.0 + 220.0 * c) * i / 44100.0);
            PutLe(data, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(v * 32767))), 2);
        }
    }
    std::vector<std::uint8_t> file;
    for (char ch : std::string("RIFF")) file.push_back(static_cast<std::uint8_t>(ch));
    PutLe(file, static_cast<std::uint32_t>(4 + 8 + 16 + 8 + data.size()), 4);
    for (char ch : std::string("WAVEfmt ")) file.push_back(static_cast<std::uint8_t>(ch));
    PutLe(file, 16, 4);
    PutLe(file, WAVE_FORMAT_PCM, 2);
    PutLe(file, 2, 2);
    PutLe(file, 44100, 4);
    PutLe(file, 176400, 4);
    PutLe(file, 4, 2);
    PutLe(file, 16, 2);
    for (char ch : std::string("data")) file.push_back(static_cast<std::uint8_t>(ch));
    PutLe(file, static_cast<std::uint32_t>(data.size()), 4);
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

using Bytes = std::vector<std::uint8_t>;

std::uint32_t GetLe(const Bytes& b, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<std::size_t>(i)];
    return v;
}

void Reverse(Bytes& b, std::size_t at, std::size_t n) {
    if (at + n <= b.size()) std::reverse(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
}

// Where the chunks of a RIFF file written by the program begin.
std::vector<std::size_t> ChunkOffsets(const Bytes& riff) {
    std::vector<std::size_t> offsets;
    for (std::size_t at = 12; at + 8 <= riff.size(); at += 8 + GetLe(riff, at + 4, 4) + (riff[at + 4] & 1))
        offsets.push_back(at);
    return offsets;
}

// The file as RIFX: sizes, the format block's numbers (the extensible
// GUID's too) and PCM or float samples big-endian.
Bytes AsRifx(Bytes b) {
    std::size_t width = 0;
    for (std::size_t at : ChunkOffsets(b)) {
        const std::size_t size = GetLe(b, at + 4, 4), data = at + 8;
        const bool extensible = GetLe(b, data, 2) == 0xFFFE;
        if (std::equal(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(data - 4), "fmt ")) {
            const std::uint32_t tag = GetLe(b, extensible ? data + 24 : data, extensible ? 4 : 2);
            width = tag == 1 || tag == 3 ? (GetLe(b, data + 14, 2) + 7) / 8 : 0;
            for (auto [field, n] : {std::pair{0, 2}, {2, 2}, {4, 4}, {8, 4}, {12, 2}, {14, 2}, {16, 2}, {18, 2},
                                    {20, 4}, {24, 4}, {28, 2}, {30, 2}})
                if (field + n <= (extensible ? 32 : 18) && static_cast<std::size_t>(field + n) <= size)
                    Reverse(b, data + field, n);
        } else if (std::equal(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(data - 4), "data")) {
            for (std::size_t s = data; width > 1 && s + width <= data + size; s += width) Reverse(b, s, width);
        }
        Reverse(b, at + 4, 4);
    }
    std::copy_n("RIFX", 4, b.begin());
    Reverse(b, 4, 4);
    return b;
}

// The file as Wave64: GUIDs for the codes, 64-bit sizes that count the
// 24-byte headers, chunks on 8-byte bounds.
Bytes AsWave64(const Bytes& riff) {
    const Bytes codeTail = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
    Bytes out = {'r', 'i', 'f', 'f', 0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
    out.resize(24, 0);  // the size, written last
    out.insert(out.end(), {'w', 'a', 'v', 'e'});
    out.insert(out.end(), codeTail.begin(), codeTail.end());
    for (std::size_t at : ChunkOffsets(riff)) {
        const std::size_t size = std::min<std::size_t>(GetLe(riff, at + 4, 4), riff.size() - at - 8);
        out.insert(out.end(), riff.begin() + static_cast<long>(at), riff.begin() + static_cast<long>(at + 4));
        out.insert(out.end(), codeTail.begin(), codeTail.end());
        PutLe(out, static_cast<std::uint32_t>(24 + size), 4);
        PutLe(out, 0, 4);
        out.insert(out.end(), riff.begin() + static_cast<long>(at + 8), riff.begin() + static_cast<long>(at + 8 + size));
        out.resize((out.size() + 7) / 8 * 8, 0);
    }
    for (std::size_t i = 0; i < 8; ++i) out[16 + i] = static_cast<std::uint8_t>(std::uint64_t{out.size()} >> (8 * i));
    return out;
}

// The codec target's input: step byte, block size - 18, the block, then up
// to 4 KiB of its data.
std::vector<std::uint8_t> CodecInput(const acm::CatalogueFormat& format, const std::vector<std::uint8_t>& file,
                                     int written) {
    std::vector<std::uint8_t> input;
    const std::size_t cbBlock = format.block.size();
    const std::size_t dataAt = 12 + 8 + ((cbBlock + 1) & ~std::size_t{1}) + 8;
    input.push_back(static_cast<std::uint8_t>(written));
    input.push_back(static_cast<std::uint8_t>(cbBlock - 18));
    input.insert(input.end(), format.block.begin(), format.block.end());
    if (file.size() > dataAt) {
        const std::size_t n = std::min<std::size_t>(file.size() - dataAt, 4096);
        input.insert(input.end(), file.begin() + static_cast<std::ptrdiff_t>(dataAt),
                     file.begin() + static_cast<std::ptrdiff_t>(dataAt + n));
    }
    return input;
}

// Writes the inputs one converted file gives a target: the riff and convert
// targets also get it as RIFX and as Wave64 when asked.
void WriteInputs(const std::string& target, const std::string& dir, const acm::CatalogueTag& tag,
                 const acm::CatalogueFormat& format, const std::vector<std::uint8_t>& file, bool otherLayouts,
                 int& written) {
    std::vector<std::vector<std::uint8_t>> files = {file};
    if (target != "codec" && otherLayouts) {
        files.push_back(AsRifx(file));
        files.push_back(AsWave64(file));
    }
    for (const auto& f : files) {
        std::vector<std::uint8_t> input;
        if (target == "riff") {
            input = f;
        } else if (target == "convert") {
            input.push_back(static_cast<std::uint8_t>(written % 3));
            input.insert(input.end(), f.begin(), f.end());
        } else {
            input = CodecInput(format, f, written);
        }
        char name[64];
        std::snprintf(name, sizeof name, "/%04x-%03d.bin", tag.tag, written);
        WriteAll(dir + name, input);
        ++written;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: wavtrn-fuzz-corpus riff|convert|codec DIR\n");
        return 2;
    }
    const std::string target = argv[1], dir = argv[2];
    if (target != "riff" && target != "convert" && target != "codec") {
        std::fprintf(stderr, "unknown target: %s\n", target.c_str());
        return 2;
    }
    acm::QuietCodecLog();
    const auto source = TestSource();
    const std::string sourcePath = fuzzing::WriteScratch("corpus-source.wav", source.data(), source.size());
    fuzzing::SilentReporter reporter;

    int written = 0;
    // RIFX and Wave64 copies of the first format of each tag, depth and channel count.
    std::set<std::tuple<WORD, WORD, WORD>> copied;
    for (const acm::CatalogueTag* tag : acm::ChooserTags()) {
        for (const acm::CatalogueFormat& format : tag->formats) {
            const std::string out = fuzzing::ScratchDir() + "/corpus-out.wav";
            if (ConvertWave(sourcePath.c_str(), out.c_str(), &format.Header(), reporter) != 0) {
                std::fprintf(stderr, "cannot make %s %s\n", tag->name.c_str(), format.name.c_str());
                continue;
            }
            const WAVEFORMATEX& h = format.Header();
            const bool otherLayouts = copied.insert({tag->tag, h.wBitsPerSample, h.nChannels}).second;
            WriteInputs(target, dir, *tag, format, ReadAll(out), otherLayouts, written);
        }
    }
    std::printf("%d inputs written to %s\n", written, dir.c_str());
    return written > 0 ? 0 : 1;
}
