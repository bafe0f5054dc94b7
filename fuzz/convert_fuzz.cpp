// Arbitrary bytes as a source file converted to a PCM, an IMA ADPCM or an MP3
// destination; the first byte picks the destination.
#include "fuzz_support.h"
#include "wave/convert.h"

#include <cstring>
#include <vector>

namespace fuzzing {

namespace {

std::vector<std::uint8_t> Block(WORD tag, WORD channels, DWORD rate, DWORD avg, WORD align, WORD bits,
                                std::vector<std::uint8_t> extra) {
    WAVEFORMATEX f{tag, channels, rate, avg, align, bits, static_cast<WORD>(extra.size())};
    std::vector<std::uint8_t> out(sizeof f + extra.size());
    std::memcpy(out.data(), &f, sizeof f);
    if (!extra.empty()) std::memcpy(out.data() + sizeof f, extra.data(), extra.size());
    return out;
}

const std::vector<std::vector<std::uint8_t>>& Destinations() {
    static const std::vector<std::vector<std::uint8_t>> blocks = {
        Block(WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, {}),
        // 22,050 Hz stereo IMA ADPCM, 1024-byte blocks of 1017 samples.
        Block(WAVE_FORMAT_IMA_ADPCM, 2, 22050, 22050 * 1024 / 1017, 1024, 4, {0xF9, 0x03}),
        // 44,100 Hz stereo MP3 at 128 kbit/s: wID 1, flags 2, block 417, 1 frame, delay 1393.
        Block(WAVE_FORMAT_MPEGLAYER3, 2, 44100, 16000, 1, 0, {0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0xA1, 0x01, 0x01, 0x00, 0x71, 0x05}),
    };
    return blocks;
}

}  // namespace

int FuzzConvert(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1u << 18)) return 0;
    const auto& destination = Destinations()[data[0] % Destinations().size()];
    const std::string source = WriteScratch("convert-in.wav", data + 1, size - 1);
    const std::string output = ScratchDir() + "/convert-out.wav";
    SilentReporter reporter;
    ConvertWave(source.c_str(), output.c_str(), reinterpret_cast<const WAVEFORMATEX*>(destination.data()), reporter);
    return 0;
}

}  // namespace fuzzing

#ifdef WAVTRN_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzing::FuzzConvert(data, size);
}
#endif
