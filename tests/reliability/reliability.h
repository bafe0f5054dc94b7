// Helpers shared by the reliability tests: real encoded sources made by the
// program's own conversion, the dialog scripts that describe and convert a file,
// and the checks of what a command left in its folder.
#pragma once

#include "platform/acm/acm.h"
#include "support/flow.h"
#include "support/testsupport.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace reliability {

using Bytes = std::vector<std::uint8_t>;

// The format block and the data chunk of a valid source.
struct Source {
    Bytes fmt;
    Bytes data;
};

// A test signal at 8,000 Hz mono, 16-bit PCM, of the given length.
Source PcmSource(std::uint32_t frames);
// The PCM signal of PcmSource converted by the program into the catalogue's
// first 8,000 Hz mono format of tag (IMA ADPCM, MS ADPCM, GSM 6.10, MPEG
// Layer-3, ...). Made once per tag and kept.
const Source& EncodedSource(WORD tag);

// Little-endian field writes into a byte vector.
void Put16(Bytes& b, std::size_t at, std::uint16_t v);
void Put32(Bytes& b, std::size_t at, std::uint32_t v);

// The dialog's format-chooser answer for the destination used throughout:
// PCM 8,000 Hz 16-bit mono.
extern const char* const kChoosePcm8k;
// The label line a well-described 8,000 Hz 16-bit mono PCM source gets.
extern const char* const kPcm8kLabel;

// Types path into the source field and leaves it (describing the file).
std::string Describe(const std::string& path);
// Chooses the PCM destination, fills both fields and presses execute.
std::string Execute(const std::string& src, const std::string& dst);

// The transcript line of a message box with no icon.
std::string PlainBox(const std::string& text);
// The boxes with only their first paragraph: a failed check's or a codec
// failure's box ends at the blank line before the plain paragraph the dialog adds.
std::string FirstParagraphs(const std::string& boxes);
// The transcript without its label lines: the boxes and the end.
std::string BoxesOf(const std::string& transcript);
// True when the transcript holds a stop box quoting the failed check.
bool HasFailedCheck(const std::string& transcript, const std::string& expression);

std::size_t FilesIn(const std::filesystem::path& dir);
// The names in dir, sorted, one a line: what a failed command left behind.
std::string Listing(const std::filesystem::path& dir);

}  // namespace reliability
