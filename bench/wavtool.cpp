// Helpers for the benchmark script: writing plain WAVE files and measuring the
// sound quality of converted test signals.
//
//   wavtool wrap RATE BITS CHANNELS OUT.wav < raw-pcm
//       Wraps little-endian PCM into a WAVE file holding exactly "fmt " (16 bytes,
//       format tag 1) and "data", the layout the converter and both peers read.
//   wavtool tone RATE BITS CHANNELS SECONDS FREQ OUT.wav
//       A sine at -6 dBFS, the same in every channel.
//   wavtool steps RATE BITS CHANNELS OUT.wav
//       A stepped sweep: each frequency of kStepFrequencies below 0.96 of the
//       Nyquist frequency for kStepSeconds, at -6 dBFS, the same in every channel.
//   wavtool measure-tone RAW.f32 RATE CHANNELS FREQ
//       Signal to noise-and-distortion of a decoded tone, in dB: a sine of the
//       known frequency is fitted by least squares over the middle 80 %, and
//       everything else counts as noise (per channel; the worst is printed).
//   wavtool measure-steps RAW.f32 RATE CHANNELS SOURCE_RATE
//       For a decoded stepped sweep: the worst signal to noise-and-distortion
//       over the steps in the passband (below 0.9 of the output's Nyquist
//       frequency) and the strongest alias, in dB relative to the input tone,
//       over the steps in the stop band (above 1.02 of it). Prints
//       "PASS_SNR ALIAS" ("-" where no step falls in a band). With WAVTOOL_VERBOSE
//       set, every step's figures go to standard error.
//
// Raw input for the measurements is interleaved 32-bit float, as
// "ffmpeg -i FILE -f f32le -c:a pcm_f32le RAW.f32" writes it, so every output
// is decoded by the same decoder whoever wrote it.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kAmplitude = 0.5;  // -6 dBFS
constexpr double kStepSeconds = 0.5;
constexpr double kStepFrequencies[] = {100,  250,  500,  1000,  2000,  3000,  3500,  4500,  5000,  6000,
                                       8000, 9000, 10000, 12500, 15000, 17500, 20000, 22500, 23000};

[[noreturn]] void Fail(const char* text) {
    std::fprintf(stderr, "wavtool: %s\n", text);
    std::exit(2);
}

void Put16(std::FILE* f, unsigned v) {
    const unsigned char b[2] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
    std::fwrite(b, 1, 2, f);
}

void Put32(std::FILE* f, std::uint32_t v) {
    const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    std::fwrite(b, 1, 4, f);
}

void WriteHeader(std::FILE* f, unsigned rate, unsigned bits, unsigned channels, std::uint32_t dataBytes) {
    const unsigned align = channels * bits / 8;
    std::fwrite("RIFF", 1, 4, f);
    Put32(f, 4 + 8 + 16 + 8 + dataBytes + (dataBytes & 1));
    std::fwrite("WAVEfmt ", 1, 8, f);
    Put32(f, 16);
    Put16(f, 1);
    Put16(f, channels);
    Put32(f, rate);
    Put32(f, rate * align);
    Put16(f, align);
    Put16(f, bits);
    std::fwrite("data", 1, 4, f);
    Put32(f, dataBytes);
}

void CheckPcm(unsigned bits, unsigned channels) {
    if ((bits != 8 && bits != 16 && bits != 24 && bits != 32) || channels < 1 || channels > 8) Fail("bad PCM layout");
}

int Wrap(unsigned rate, unsigned bits, unsigned channels, const char* out) {
    CheckPcm(bits, channels);
    std::FILE* f = std::fopen(out, "wb");
    if (f == nullptr) Fail("cannot create the output");
    WriteHeader(f, rate, bits, channels, 0);
    std::uint64_t total = 0;
    std::vector<char> buf(1 << 20);
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), stdin)) > 0) {
        if (std::fwrite(buf.data(), 1, n, f) != n) Fail("write failed");
        total += n;
    }
    const unsigned align = channels * bits / 8;
    total -= total % align;
    if (total > 0xFFFFFFFFull - 64) Fail("too long for a RIFF form");
    if (total & 1) std::fputc(0, f);
    std::fseek(f, 0, SEEK_SET);
    WriteHeader(f, rate, bits, channels, static_cast<std::uint32_t>(total));
    if (std::fclose(f) != 0) Fail("close failed");
    return 0;
}

// Quantises x (full scale 1.0) to the PCM sample of the given width, rounding.
void PutSample(std::vector<unsigned char>& out, double x, unsigned bits) {
    x = std::clamp(x, -1.0, 1.0);
    if (bits == 8) {
        out.push_back(static_cast<unsigned char>(std::lround(x * 127.0) + 128));
        return;
    }
    const double scale = std::ldexp(1.0, static_cast<int>(bits) - 1) - 1.0;
    const std::int64_t v = std::llround(x * scale);
    for (unsigned i = 0; i < bits / 8; ++i) out.push_back(static_cast<unsigned char>((v >> (8 * i)) & 0xFF));
}

int WriteSignal(unsigned rate, unsigned bits, unsigned channels, const std::vector<double>& mono, const char* out) {
    CheckPcm(bits, channels);
    std::vector<unsigned char> data;
    data.reserve(mono.size() * channels * bits / 8);
    for (double x : mono)
        for (unsigned c = 0; c < channels; ++c) PutSample(data, x, bits);
    std::FILE* f = std::fopen(out, "wb");
    if (f == nullptr) Fail("cannot create the output");
    WriteHeader(f, rate, bits, channels, static_cast<std::uint32_t>(data.size()));
    std::fwrite(data.data(), 1, data.size(), f);
    if (data.size() & 1) std::fputc(0, f);
    if (std::fclose(f) != 0) Fail("close failed");
    return 0;
}

std::vector<double> StepFrequencies(unsigned rate) {
    std::vector<double> freqs;
    for (double f : kStepFrequencies)
        if (f < 0.96 * rate / 2) freqs.push_back(f);
    return freqs;
}

std::vector<float> ReadRaw(const char* path) {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) Fail("cannot open the raw samples");
    std::vector<float> samples;
    float buf[8192];
    std::size_t n;
    while ((n = std::fread(buf, sizeof(float), 8192, f)) > 0) samples.insert(samples.end(), buf, buf + n);
    std::fclose(f);
    return samples;
}

struct Fit {
    double signal = 0;  // mean power of the fitted sine
    double noise = 0;   // mean power of the rest
};

// Least-squares fit of a*sin + b*cos + c at frequency freq to x[begin, end) of one channel.
Fit FitSine(const std::vector<float>& x, unsigned channels, unsigned channel, std::size_t begin, std::size_t end,
            double freq, double rate) {
    Fit fit;
    if (end <= begin + 16) return fit;
    double ss = 0, cc = 0, sc = 0, s1 = 0, c1 = 0, xs = 0, xc = 0, x1 = 0;
    const double n = static_cast<double>(end - begin);
    const double w = 2 * kPi * freq / rate;
    for (std::size_t i = begin; i < end; ++i) {
        const double s = std::sin(w * static_cast<double>(i)), c = std::cos(w * static_cast<double>(i));
        const double v = x[i * channels + channel];
        ss += s * s; cc += c * c; sc += s * c; s1 += s; c1 += c;
        xs += v * s; xc += v * c; x1 += v;
    }
    // Solve the 3x3 normal equations by Cramer's rule.
    const double m[3][3] = {{ss, sc, s1}, {sc, cc, c1}, {s1, c1, n}};
    const double r[3] = {xs, xc, x1};
    auto det3 = [](const double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double d = det3(m);
    double coef[3] = {0, 0, 0};
    if (std::fabs(d) > 1e-12) {
        for (int k = 0; k < 3; ++k) {
            double mk[3][3];
            std::memcpy(mk, m, sizeof mk);
            for (int row = 0; row < 3; ++row) mk[row][k] = r[row];
            coef[k] = det3(mk) / d;
        }
    }
    double noise = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const double s = std::sin(w * static_cast<double>(i)), c = std::cos(w * static_cast<double>(i));
        const double e = x[i * channels + channel] - (coef[0] * s + coef[1] * c + coef[2]);
        noise += e * e;
    }
    fit.signal = (coef[0] * coef[0] + coef[1] * coef[1]) / 2;
    fit.noise = noise / n;
    return fit;
}

double Db(double ratio) { return ratio > 0 ? 10 * std::log10(ratio) : -999; }

int MeasureTone(const char* raw, unsigned rate, unsigned channels, double freq) {
    const std::vector<float> x = ReadRaw(raw);
    const std::size_t frames = x.size() / channels;
    if (frames < rate / 10) Fail("too few samples");
    double worst = 1e9;
    for (unsigned c = 0; c < channels; ++c) {
        const Fit fit = FitSine(x, channels, c, frames / 10, frames - frames / 10, freq, rate);
        worst = std::min(worst, fit.noise > 0 ? Db(fit.signal / fit.noise) : 200.0);
    }
    std::printf("%.1f\n", worst);
    return 0;
}

int MeasureSteps(const char* raw, unsigned rate, unsigned channels, unsigned sourceRate) {
    const std::vector<float> x = ReadRaw(raw);
    const std::size_t frames = x.size() / channels;
    const double nyquist = rate / 2.0;
    const double inputPower = kAmplitude * kAmplitude / 2;
    const std::vector<double> freqs = StepFrequencies(sourceRate);
    const double step = kStepSeconds * rate;
    double worstPass = 1e9, worstAlias = -1e9;
    bool anyPass = false, anyStop = false;
    const bool verbose = std::getenv("WAVTOOL_VERBOSE") != nullptr;
    for (std::size_t k = 0; k < freqs.size(); ++k) {
        // The middle 60 % of the step, clear of its edges whatever the delay.
        const auto begin = static_cast<std::size_t>((static_cast<double>(k) + 0.2) * step);
        const auto end = static_cast<std::size_t>((static_cast<double>(k) + 0.8) * step);
        if (end > frames) break;
        for (unsigned c = 0; c < channels; ++c) {
            if (freqs[k] < 0.9 * nyquist) {
                const Fit fit = FitSine(x, channels, c, begin, end, freqs[k], rate);
                const double sinad = fit.noise > 0 ? Db(fit.signal / fit.noise) : 200.0;
                if (verbose) std::fprintf(stderr, "step %.0f Hz ch %u: level %.1f dB, SINAD %.1f dB\n", freqs[k], c,
                                          Db(fit.signal / inputPower), sinad);
                worstPass = std::min(worstPass, sinad);
                anyPass = true;
            } else if (freqs[k] > 1.02 * nyquist) {
                double power = 0;
                for (std::size_t i = begin; i < end; ++i) power += double(x[i * channels + c]) * x[i * channels + c];
                power /= static_cast<double>(end - begin);
                if (verbose) std::fprintf(stderr, "step %.0f Hz ch %u: alias %.1f dB\n", freqs[k], c, Db(power / inputPower));
                worstAlias = std::max(worstAlias, power > 0 ? Db(power / inputPower) : -200.0);
                anyStop = true;
            }
        }
    }
    if (anyPass) std::printf("%.1f ", worstPass); else std::printf("- ");
    // Below -150 dB the output is digital silence or as good as.
    if (!anyStop) std::printf("-\n");
    else if (worstAlias < -150) std::printf("<-150\n");
    else std::printf("%.1f\n", worstAlias);
    return 0;
}

unsigned U(const char* s) { return static_cast<unsigned>(std::strtoul(s, nullptr, 10)); }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) Fail("usage: wavtool wrap|tone|steps|measure-tone|measure-steps ...");
    const std::string cmd = argv[1];
    if (cmd == "wrap" && argc == 6) return Wrap(U(argv[2]), U(argv[3]), U(argv[4]), argv[5]);
    if (cmd == "tone" && argc == 8) {
        const unsigned rate = U(argv[2]);
        const double seconds = std::atof(argv[5]), freq = std::atof(argv[6]);
        std::vector<double> mono(static_cast<std::size_t>(seconds * rate));
        for (std::size_t i = 0; i < mono.size(); ++i) mono[i] = kAmplitude * std::sin(2 * kPi * freq * i / rate);
        return WriteSignal(rate, U(argv[3]), U(argv[4]), mono, argv[7]);
    }
    if (cmd == "steps" && argc == 6) {
        const unsigned rate = U(argv[2]);
        const auto perStep = static_cast<std::size_t>(kStepSeconds * rate);
        std::vector<double> mono;
        for (double f : StepFrequencies(rate))
            for (std::size_t i = 0; i < perStep; ++i) mono.push_back(kAmplitude * std::sin(2 * kPi * f * i / rate));
        return WriteSignal(rate, U(argv[3]), U(argv[4]), mono, argv[5]);
    }
    if (cmd == "measure-tone" && argc == 6) return MeasureTone(argv[2], U(argv[3]), U(argv[4]), std::atof(argv[5]));
    if (cmd == "measure-steps" && argc == 6) return MeasureSteps(argv[2], U(argv[3]), U(argv[4]), U(argv[5]));
    Fail("bad arguments");
}
