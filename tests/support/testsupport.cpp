#include "support/testsupport.h"

#include "app/message_boxes.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <sys/wait.h>

namespace testsupport {

Reporter& BoxReporter() {
    static DialogReporter reporter(nullptr);
    return reporter;
}

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "wavtrn-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Give back write permission that a test took away so everything can be removed.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_directory(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteText(const std::string& path, const std::string& text) {
    WriteBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

WAVEFORMATEX PcmFormat(std::uint32_t rate, std::uint16_t bits, std::uint16_t channels) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<WORD>(channels * ((bits + 7) / 8));
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    f.cbSize = 0;
    return f;
}

WAVEFORMATEX FloatFormat(std::uint32_t rate, std::uint16_t bits, std::uint16_t channels) {
    WAVEFORMATEX f = PcmFormat(rate, bits, channels);
    f.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    return f;
}

namespace {
std::vector<double> TestSignalDouble(std::uint32_t rate, std::uint16_t channels, std::uint32_t frames) {
    std::vector<double> out(static_cast<std::size_t>(frames) * channels);
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> noise(-0.01, 0.01);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        for (std::uint16_t c = 0; c < channels; ++c) {
            const double freq = 440.0 * (1.0 + 0.5 * c);
            out[static_cast<std::size_t>(i) * channels + c] =
                0.35 * std::sin(2 * M_PI * freq * t) + 0.12 * std::sin(2 * M_PI * 3.1 * freq * t) + noise(rng);
        }
    }
    return out;
}

void PutLe(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}
}  // namespace

std::vector<std::int16_t> TestSignal16(std::uint32_t rate, std::uint16_t channels, std::uint32_t frames) {
    const auto d = TestSignalDouble(rate, channels, frames);
    std::vector<std::int16_t> out(d.size());
    for (std::size_t i = 0; i < d.size(); ++i) out[i] = static_cast<std::int16_t>(std::lround(d[i] * 32767.0));
    return out;
}

std::vector<std::uint8_t> TestSignalBytes(const WAVEFORMATEX& format, std::uint32_t frames) {
    const auto d = TestSignalDouble(format.nSamplesPerSec, format.nChannels, frames);
    std::vector<std::uint8_t> out;
    out.reserve(d.size() * (format.wBitsPerSample / 8));
    for (double v : d) {
        if (format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
            if (format.wBitsPerSample == 32) {
                const float f = static_cast<float>(v);
                std::uint32_t bits;
                std::memcpy(&bits, &f, 4);
                PutLe(out, bits, 4);
            } else {
                std::uint64_t bits;
                std::memcpy(&bits, &v, 8);
                PutLe(out, bits, 8);
            }
            continue;
        }
        switch (format.wBitsPerSample) {
        case 8: out.push_back(static_cast<std::uint8_t>(std::lround(v * 127.0) + 128)); break;
        case 16: PutLe(out, static_cast<std::uint16_t>(std::lround(v * 32767.0)), 2); break;
        case 24: PutLe(out, static_cast<std::uint32_t>(std::lround(v * 8388607.0)), 3); break;
        case 32: PutLe(out, static_cast<std::uint32_t>(std::llround(v * 2147483647.0)), 4); break;
        default: throw std::runtime_error("unsupported test bit depth");
        }
    }
    return out;
}

std::vector<std::uint8_t> FormatBytes(const WAVEFORMATEX& format, const std::vector<std::uint8_t>& extra) {
    WAVEFORMATEX f = format;
    f.cbSize = static_cast<WORD>(extra.size());
    std::vector<std::uint8_t> out(sizeof f);
    std::memcpy(out.data(), &f, sizeof f);
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

std::vector<std::uint8_t> MakeWave(const std::vector<std::uint8_t>& fmtBytes, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> out;
    out.reserve(12 + 8 + fmtBytes.size() + 8 + data.size() + 2);
    for (char c : {'R', 'I', 'F', 'F', '\0', '\0', '\0', '\0', 'W', 'A', 'V', 'E'}) out.push_back(static_cast<std::uint8_t>(c));
    auto chunk = [&out](const char* id, const std::vector<std::uint8_t>& body) {
        out.insert(out.end(), id, id + 4);
        PutLe(out, body.size(), 4);
        out.insert(out.end(), body.begin(), body.end());
        if (body.size() % 2) out.push_back(0);
    };
    chunk("fmt ", fmtBytes);
    chunk("data", data);
    const std::uint32_t riffSize = static_cast<std::uint32_t>(out.size() - 8);
    std::memcpy(out.data() + 4, &riffSize, 4);
    return out;
}

std::string WriteTestWave(const std::string& path, const WAVEFORMATEX& format, std::uint32_t frames) {
    WriteBytes(path, MakeWave(FormatBytes(format), TestSignalBytes(format, frames)));
    return path;
}

std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    std::array<char, 4096> buf{};
    std::string text;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) text.append(buf.data(), n);
    const int status = ::pclose(pipe);
    if (output != nullptr) *output = std::move(text);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ProbeResult Probe(const std::string& path) {
    ProbeResult r;
    std::string out;
    const int rc = RunCommand("ffprobe -v error -select_streams a:0 -show_entries "
                              "stream=codec_name,sample_rate,channels:format=duration -of default=noprint_wrappers=1 " +
                                  ShellQuote(path) + " 2>/dev/null",
                              &out);
    if (rc != 0) return r;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "codec_name") r.codec = value;
        else if (key == "sample_rate") r.sampleRate = std::atoi(value.c_str());
        else if (key == "channels") r.channels = std::atoi(value.c_str());
        else if (key == "duration") r.duration = std::atof(value.c_str());
    }
    r.ok = !r.codec.empty();
    return r;
}

std::vector<std::int16_t> DecodeWithFfmpeg(const std::string& path, int* channels, int* rate) {
    const ProbeResult p = Probe(path);
    if (channels != nullptr) *channels = p.channels;
    if (rate != nullptr) *rate = p.sampleRate;
    std::string out;
    RunCommand("ffmpeg -v error -i " + ShellQuote(path) + " -f s16le -acodec pcm_s16le - 2>/dev/null", &out);
    std::vector<std::int16_t> samples(out.size() / 2);
    std::memcpy(samples.data(), out.data(), samples.size() * 2);
    return samples;
}

double SnrDb(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& test) {
    const std::size_t n = std::min(reference.size(), test.size());
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double r = reference[i], d = static_cast<double>(test[i]) - r;
        signal += r * r;
        noise += d * d;
    }
    if (noise == 0) return 200.0;
    return 10.0 * std::log10(signal / noise);
}

}  // namespace testsupport
