// Helpers shared by the wave tests: hand-made RIFF files, failed-check lines in
// a flow transcript, and the chunk layout of a written file.
#pragma once

#include "platform/acm/acm.h"
#include "support/flow.h"
#include "support/testsupport.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace wavetest {

using Bytes = std::vector<std::uint8_t>;

void Append(Bytes& out, const std::string& text);
void AppendU32(Bytes& out, std::uint32_t v);
std::uint32_t U32At(const Bytes& b, std::size_t at);
std::uint16_t U16At(const Bytes& b, std::size_t at);

// A chunk: identifier, size field, data, and the pad byte when the data is odd.
Bytes Chunk(const std::string& id, const Bytes& data);
Bytes Chunk(const std::string& id, std::uint32_t sizeField, const Bytes& data);
// A WAVE file with an 18-byte format chunk for format and the data.
Bytes MakeWaveBytes(const WAVEFORMATEX& format, const Bytes& data);
// "RIFF", size of what follows, form type, then the chunks.
Bytes Form(const std::string& formType, const std::vector<Bytes>& chunks, const std::string& riffId = "RIFF");

// The transcript line text of a failed check on expression (as the transcript
// escapes it), without the file and line.
std::string FailedCheck(const std::string& expression);
// True when the transcript holds a stop box with that failed check.
bool HasFailedCheck(const std::string& transcript, const std::string& expression);
int CountOf(const std::string& text, const std::string& needle);

// The codec service's tag name and format name for a block.
std::pair<std::string, std::string> Names(const WAVEFORMATEX& format, const Bytes& extra = {});
// "choose TAG | FORMAT" answering the chooser with the format so named.
std::string ChooseLine(const WAVEFORMATEX& format, const Bytes& extra = {});

// The chunks of a written file, read back with the program's own reader.
struct WaveLayout {
    bool ok = false;
    std::string error;
    std::uint32_t riffSize = 0;
    std::uint32_t fmtSize = 0;
    Bytes fmt;                    // the format chunk's data
    std::uint32_t dataOffset = 0;
    std::uint32_t dataSize = 0;
    std::uint64_t fileSize = 0;
    std::vector<std::string> chunkIds;  // every chunk inside the form, in order
};
WaveLayout ReadLayout(const std::string& path);

}  // namespace wavetest
