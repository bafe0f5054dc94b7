// Helpers shared by the tests: a temporary folder per test, files, WAVE synthesis,
// and running the independent readers (ffprobe, sox).
#pragma once

#include "core/reporter.h"
#include "platform/acm/acm.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// The dialog's reporter: what the procedures report becomes message boxes of
// the current window backend, as in the dialog.
Reporter& BoxReporter();

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

std::vector<std::uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
void WriteText(const std::string& path, const std::string& text);

// A WAVEFORMATEX with no extra bytes.
WAVEFORMATEX PcmFormat(std::uint32_t rate, std::uint16_t bits, std::uint16_t channels);
WAVEFORMATEX FloatFormat(std::uint32_t rate, std::uint16_t bits, std::uint16_t channels);

// Interleaved test signal: a different tone per channel plus a little noise from a
// fixed generator, at about -6 dBFS, so every run makes the same bytes.
std::vector<std::int16_t> TestSignal16(std::uint32_t rate, std::uint16_t channels, std::uint32_t frames);

// PCM sample bytes of the test signal in any PCM format (8, 16, 24, 32 bits) or
// IEEE float (32, 64 bits), as a data chunk holds them.
std::vector<std::uint8_t> TestSignalBytes(const WAVEFORMATEX& format, std::uint32_t frames);

// A whole RIFF WAVE file: "RIFF", "WAVE", "fmt " with the given block bytes, then
// "data" with data. fmtBytes is written as is (16, 18 or more bytes).
std::vector<std::uint8_t> MakeWave(const std::vector<std::uint8_t>& fmtBytes, const std::vector<std::uint8_t>& data);
std::vector<std::uint8_t> FormatBytes(const WAVEFORMATEX& format, const std::vector<std::uint8_t>& extra = {});

// Writes a PCM (or float) WAVE file of the test signal; returns its path.
std::string WriteTestWave(const std::string& path, const WAVEFORMATEX& format, std::uint32_t frames);

// Runs a shell command; returns its exit status and captures standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);
std::string ShellQuote(const std::string& text);

// ffprobe's view of a file's first audio stream.
struct ProbeResult {
    bool ok = false;
    std::string codec;
    int sampleRate = 0;
    int channels = 0;
    double duration = 0;
};
ProbeResult Probe(const std::string& path);

// Decodes any file ffmpeg reads to interleaved 16-bit samples at its own rate.
std::vector<std::int16_t> DecodeWithFfmpeg(const std::string& path, int* channels = nullptr, int* rate = nullptr);

// Signal-to-noise ratio in dB of test against reference (same length used).
double SnrDb(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& test);

}  // namespace testsupport
