// A WAVE file written by the program, laid out as the other writers the RIFF
// reader knows lay it out: valid RIFX and Wave64 inputs for the fuzz targets'
// corpus and for the hostile-file tests.
#pragma once

#include <cstdint>
#include <vector>

namespace fuzzing {

// The file as RIFX: sizes, the format block's numbers (the extensible GUID's
// too) and PCM or float samples big-endian.
std::vector<std::uint8_t> AsRifx(std::vector<std::uint8_t> riff);

// The file as Wave64: GUIDs for the codes, 64-bit sizes that count the
// 24-byte headers, chunks on 8-byte bounds, and before "data" a chunk of 3
// bytes whose GUID names no code.
std::vector<std::uint8_t> AsWave64(const std::vector<std::uint8_t>& riff);

}  // namespace fuzzing
