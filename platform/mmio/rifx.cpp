// RIFX files (RIFF with every number big-endian) read as RIFF: mmioRead hands
// the caller the format and "fact" chunks with their fields little-endian and
// the samples of PCM and float data little-endian, so the rest of the program
// reads an ordinary RIFF file. Other chunks are handed out as they stand.
#include "platform/mmio/layout.h"

#include "platform/endian.h"

#include <algorithm>
#include <array>

namespace mmio_io {

namespace {

using mmio_layout::kData;
using mmio_layout::kFact;
using mmio_layout::kFmt;

// No format block is longer than a WAVEFORMATEX with 65535 extra bytes; a
// "fact" chunk holds a few 32-bit counts.
constexpr std::uint64_t kLargestFormat = 18 + 0xFFFF;
constexpr std::uint64_t kLargestFact = 256;
// The format and "fact" chunks of a form, and a few more a caller may enter.
constexpr std::size_t kCopiesKept = 4;

constexpr WORD kPcmTag = 0x0001;
constexpr WORD kFloatTag = 0x0003;
constexpr WORD kExtensibleTag = 0xFFFE;
// The sub-format GUID of an extensible block after its first four bytes (the tag).
constexpr std::array<BYTE, 12> kSubFormatTail = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                                 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// The fields of a block at their offsets and widths: WAVEFORMATEX, then the
// extensible fields (valid bits, channel mask, and the sub-format GUID's
// three numbers; its last eight bytes are a byte string).
struct Field {
    std::size_t at, width;
};
constexpr Field kFormatFields[] = {{0, 2}, {2, 2}, {4, 4}, {8, 4}, {12, 2}, {14, 2}, {16, 2}};
constexpr Field kExtensibleFields[] = {{18, 2}, {20, 4}};
constexpr Field kGuidNumbers[] = {{24, 4}, {28, 2}, {30, 2}};
constexpr std::size_t kSubFormatAt = 24;
// sox writes the sub-format as a big-endian 16-bit tag followed by the
// fourteen bytes that follow the tag in a little-endian file.
constexpr std::array<BYTE, 14> kTagThenLittleEndianTail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                           0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Turns the fields the block holds little-endian. The sub-format GUID is
// read both as sox writes it and with its numbers big-endian.
void FormatToLittleEndian(std::span<BYTE> block) {
    auto swap = [block](const Field& f) {
        if (f.at + f.width <= block.size()) std::reverse(block.begin() + f.at, block.begin() + f.at + f.width);
    };
    for (const Field& f : kFormatFields) swap(f);
    if (block.size() < 2 || endian::LoadLe16(block.data()) != kExtensibleTag) return;
    for (const Field& f : kExtensibleFields) swap(f);
    const auto guid = block.begin() + kSubFormatAt;
    if (block.size() >= kSubFormatAt + 16 &&
        std::equal(kTagThenLittleEndianTail.begin(), kTagThenLittleEndianTail.end(), guid + 2)) {
        std::swap(guid[0], guid[1]);
        return;
    }
    for (const Field& f : kGuidNumbers) swap(f);
}

// The bytes of one sample of a little-endian block whose samples are numbers
// (PCM or float, plain or extensible): the container the bits need, as sox
// reads RIFX. 0 for every other format and for 8-bit samples (single bytes).
unsigned SampleWidth(std::span<const BYTE> block) {
    if (block.size() < 16) return 0;
    WORD tag = endian::LoadLe16(block.data());
    if (tag == kExtensibleTag) {
        if (block.size() < 40 || !std::equal(kSubFormatTail.begin(), kSubFormatTail.end(), block.begin() + 28)) {
            return 0;
        }
        const std::uint32_t subTag = endian::LoadLe32(block.data() + 24);
        tag = subTag <= 0xFFFF ? static_cast<WORD>(subTag) : 0;
    }
    if (tag != kPcmTag && tag != kFloatTag) return 0;
    const unsigned width = (endian::LoadLe16(block.data() + 14) + 7u) / 8u;
    return width >= 2 && width <= 8 ? width : 0;
}

// Copies a format or "fact" chunk turned little-endian, replacing an older
// copy of the same chunk.
void CopyChunk(MMIO& file, const MMCKINFO& chunk) {
    const std::uint64_t largest = chunk.ckid == kFmt ? kLargestFormat : kLargestFact;
    if (chunk.cksize64 > largest) return;
    LittleEndianCopy copy{chunk.dwDataOffset, std::vector<BYTE>(chunk.cksize64)};
    copy.bytes.resize(ReadAt(file.fd.get(), copy.bytes.data(), copy.bytes.size(), copy.offset));
    if (chunk.ckid == kFmt) {
        FormatToLittleEndian(copy.bytes);
        file.sampleWidth = SampleWidth(copy.bytes);
    } else {
        for (std::size_t at = 0; at + 4 <= copy.bytes.size(); at += 4) {
            std::reverse(copy.bytes.begin() + at, copy.bytes.begin() + at + 4);
        }
    }
    std::erase_if(file.copies, [&copy](const LittleEndianCopy& c) { return c.offset == copy.offset; });
    if (file.copies.size() >= kCopiesKept) file.copies.erase(file.copies.begin());
    file.copies.push_back(std::move(copy));
}

// Reverses the sample at 'at' whose bytes the read at offset got only in
// part: the whole sample is read again to find the caller's bytes.
void SwapPartialSample(const MMIO& file, std::uint64_t at, unsigned width, std::uint64_t offset,
                       std::span<BYTE> bytes) {
    std::array<BYTE, 8> sample{};
    ReadAt(file.fd.get(), sample.data(), width, at);
    std::reverse(sample.begin(), sample.begin() + width);
    const std::uint64_t lo = std::max(at, offset), hi = std::min(at + width, offset + bytes.size());
    for (std::uint64_t i = lo; i < hi; ++i) bytes[i - offset] = sample[i - at];
}

void SwapSamples(const MMIO& file, std::uint64_t offset, std::span<BYTE> bytes) {
    const SwappedSamples& s = file.samples;
    const unsigned width = s.width;
    const std::uint64_t end = offset + bytes.size();
    const std::uint64_t lo = std::max(offset, s.begin), hi = std::min(end, s.end);
    if (width < 2 || lo >= hi) return;
    // From the sample the read starts in; a last sample cut short by the
    // chunk's end is no sample and stays as it is.
    for (std::uint64_t at = s.begin + (lo - s.begin) / width * width; at < hi && width <= s.end - at; at += width) {
        if (at >= offset && at + width <= end) {
            std::reverse(bytes.begin() + (at - offset), bytes.begin() + (at - offset + width));
        } else {
            SwapPartialSample(file, at, width, offset, bytes);
        }
    }
}

}  // namespace

void NoteEnteredChunk(MMIO& file, const MMCKINFO& chunk) {
    if (file.layout != Layout::Rifx) return;
    if (chunk.ckid == kData) {
        const std::uint64_t begin = chunk.dwDataOffset;
        file.samples = {begin, begin + std::min(chunk.cksize64, UINT64_MAX - begin), file.sampleWidth};
    } else if (chunk.ckid == kFmt || chunk.ckid == kFact) {
        CopyChunk(file, chunk);
    }
}

void ToLittleEndian(const MMIO& file, std::uint64_t offset, std::span<BYTE> bytes) {
    if (file.layout != Layout::Rifx || bytes.empty()) return;
    const std::uint64_t end = offset + bytes.size();
    for (const LittleEndianCopy& copy : file.copies) {
        const std::uint64_t lo = std::max(offset, copy.offset);
        const std::uint64_t hi = std::min(end, copy.offset + copy.bytes.size());
        if (lo < hi) {
            std::copy(copy.bytes.begin() + (lo - copy.offset), copy.bytes.begin() + (hi - copy.offset),
                      bytes.begin() + (lo - offset));
        }
    }
    SwapSamples(file, offset, bytes);
}

}  // namespace mmio_io
