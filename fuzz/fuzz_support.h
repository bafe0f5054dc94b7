// Shared pieces of the fuzz targets: a reporter that keeps quiet, and a
// scratch file to hand arbitrary bytes to the file readers.
#pragma once

#include "core/reporter.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzing {

// Everything the procedures report is counted, nothing is shown.
class SilentReporter final : public Reporter {
public:
    void Message(Text, unsigned long) override { ++reports; }
    void ShowText(const char*) override { ++reports; }
    void Box(const char*, Text) override { ++reports; }
    LONG SystemError(const char*) override { return ++reports; }
    void FailedCheck(Text, const char*, const char*, int) override { ++reports; }

    int reports = 0;
};

// A per-process scratch folder (under TMPDIR, or /dev/shm when it exists).
const std::string& ScratchDir();

// Writes the bytes to a scratch file and returns its path.
std::string WriteScratch(const char* name, const std::uint8_t* data, std::size_t size);

// The fuzz entry points, one per target.
int FuzzRiff(const std::uint8_t* data, std::size_t size);
int FuzzConvert(const std::uint8_t* data, std::size_t size);
int FuzzCodec(const std::uint8_t* data, std::size_t size);

}  // namespace fuzzing
