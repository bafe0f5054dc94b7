// wavtrn-fuzz-corpus TARGET DIR: writes one valid input per catalogue format for
// a fuzz target (riff, convert or codec), made by converting a short test signal
// into each format the chooser offers; the riff and convert targets also get
// a file of each tag, depth and channel count as RIFX and as Wave64.
#include "fuzz_support.h"
#include "layouts.h"
#include "platform/acm/catalogue.h"
#include "platform/endian.h"
#include "wave/convert.h"

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

void AppendChunk(std::vector<std::uint8_t>& file, const char* id, const std::vector<std::uint8_t>& data) {
    file.insert(file.end(), id, id + 4);
    endian::AppendLe(file, static_cast<std::uint32_t>(data.size()), 4);
    file.insert(file.end(), data.begin(), data.end());
    if (data.size() % 2 != 0) file.push_back(0);
}

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// Metadata chunks with sample positions of every kind the conversion rescales,
// so that every corpus file carries them after its data.
void AppendMetadata(std::vector<std::uint8_t>& file) {
    std::vector<std::uint8_t> info = Bytes("INFO"), bext(602, 0), cue, smpl, adtl = Bytes("adtl");
    AppendChunk(info, "INAM", Bytes("Corpus"));
    AppendChunk(file, "LIST", info);
    bext[338] = 0x10;  // time reference 16
    const std::vector<std::uint8_t> history = Bytes("A=PCM,F=44100,W=16,M=stereo,T=corpus\r\n");
    bext.insert(bext.end(), history.begin(), history.end());
    AppendChunk(file, "bext", bext);
    for (std::uint32_t v : {1u, 1u, 2205u, 0x61746164u, 0u, 0u, 2205u}) endian::AppendLe(cue, v, 4);
    AppendChunk(file, "cue ", cue);
    std::vector<std::uint8_t> ltxt;
    for (std::uint32_t v : {1u, 441u, 0u, 0u, 0u}) endian::AppendLe(ltxt, v, 4);
    AppendChunk(adtl, "ltxt", ltxt);
    AppendChunk(file, "LIST", adtl);
    for (std::uint32_t v : {0u, 0u, 22676u, 60u, 0u, 0u, 0u, 1u, 0u, 0u, 0u, 441u, 3969u, 0u, 0u}) endian::AppendLe(smpl, v, 4);
    AppendChunk(file, "smpl", smpl);
    AppendChunk(file, "iXML", Bytes("<BWFXML><TIMESTAMP_SAMPLE_RATE>44100</TIMESTAMP_SAMPLE_RATE>"
                                    "<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>4410</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO></BWFXML>"));
}

// 0.1 s of 44,100 Hz 16-bit stereo: two tones, and metadata after them.
std::vector<std::uint8_t> TestSource() {
    std::vector<std::uint8_t> data;
    for (int i = 0; i < 4410; ++i) {
        for (int c = 0; c < 2; ++c) {
            const double v = 0.4 * std::sin(2 * M_PI * (440.0 + 220.0 * c) * i / 44100.0);
            endian::AppendLe(data, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(v * 32767))), 2);
        }
    }
    std::vector<std::uint8_t> file;
    for (char ch : std::string("RIFF")) file.push_back(static_cast<std::uint8_t>(ch));
    endian::AppendLe(file, static_cast<std::uint32_t>(4 + 8 + 16 + 8 + data.size()), 4);
    for (char ch : std::string("WAVEfmt ")) file.push_back(static_cast<std::uint8_t>(ch));
    endian::AppendLe(file, 16, 4);
    endian::AppendLe(file, WAVE_FORMAT_PCM, 2);
    endian::AppendLe(file, 2, 2);
    endian::AppendLe(file, 44100, 4);
    endian::AppendLe(file, 176400, 4);
    endian::AppendLe(file, 4, 2);
    endian::AppendLe(file, 16, 2);
    for (char ch : std::string("data")) file.push_back(static_cast<std::uint8_t>(ch));
    endian::AppendLe(file, static_cast<std::uint32_t>(data.size()), 4);
    file.insert(file.end(), data.begin(), data.end());
    AppendMetadata(file);
    endian::StoreLe32(&file[4], static_cast<std::uint32_t>(file.size() - 8));
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
        files.push_back(fuzzing::AsRifx(file));
        files.push_back(fuzzing::AsWave64(file));
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
    SilentReporter reporter;

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
