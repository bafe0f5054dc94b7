// Shared pieces of the fuzz targets: a scratch file to hand arbitrary bytes
// to the file readers, and the entry points.
#pragma once

#include "core/reporter.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzing {

// A per-process scratch folder (under TMPDIR, or /dev/shm when it exists).
const std::string& ScratchDir();

// Writes the bytes to a scratch file and returns its path.
std::string WriteScratch(const char* name, const std::uint8_t* data, std::size_t size);

// The fuzz entry points, one per target.
int FuzzRiff(const std::uint8_t* data, std::size_t size);
int FuzzConvert(const std::uint8_t* data, std::size_t size);
int FuzzCodec(const std::uint8_t* data, std::size_t size);

}  // namespace fuzzing
