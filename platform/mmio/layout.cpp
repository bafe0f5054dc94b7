// Chunk headers of RIFF, RIFX and Wave64 files, read into one record, so the
// search and the callers see every file as RIFF.
#include "platform/mmio/layout.h"

#include "platform/endian.h"

#include <algorithm>
#include <array>

using namespace mmio_io;

namespace mmio_layout {

namespace {

using Guid = std::array<BYTE, 16>;

// A Wave64 GUID that names no four-character code: no caller looks for it.
constexpr FOURCC kUnnamedGuid = mmioFOURCC('?', '?', '?', '?');

// 66666972-912E-11CF-A5D6-28DB04C10000, as the file holds it.
constexpr Guid kRiffGuid = {'r', 'i', 'f', 'f', 0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
// The last twelve bytes of the GUIDs that hold a four-character code in their
// first four: xxxxxxxx-ACF3-11D3-8CD1-00C04F8EDB8A.
constexpr std::array<BYTE, 12> kCodeGuidTail = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};

constexpr std::uint32_t kGuidHeader = 24;

bool IsForm(FOURCC id) { return id == kRiff || id == kRifx || id == kList || id == kRf64 || id == kBw64; }

// The code a Wave64 GUID stands for: "RIFF" for the riff GUID, "WAVE" for the
// wave GUID, the four characters of the other code GUIDs.
FOURCC GuidCode(const BYTE* guid) {
    if (std::equal(kRiffGuid.begin(), kRiffGuid.end(), guid)) return kRiff;
    if (!std::equal(kCodeGuidTail.begin(), kCodeGuidTail.end(), guid + 4)) return kUnnamedGuid;
    const FOURCC code = endian::LoadLe32(guid);
    return code == mmioFOURCC('w', 'a', 'v', 'e') ? kWave : code;
}

bool ReadGuidHeader(int fd, std::uint64_t offset, ChunkHeader& header) {
    BYTE bytes[kGuidHeader + 16];
    if (!ReadAllAt(fd, bytes, kGuidHeader, offset)) return false;
    const std::uint64_t total = endian::LoadLe64(bytes + 16);
    header.ckid = GuidCode(bytes);
    header.sizeUnusable = total < kGuidHeader;
    header.size = header.sizeUnusable ? 0 : total - kGuidHeader;
    header.cksize = static_cast<DWORD>(std::min<std::uint64_t>(header.size, 0xFFFFFFFFu));
    header.headerLength = kGuidHeader;
    header.length = kGuidHeader;
    if (header.ckid == kRiff) {
        if (!ReadAllAt(fd, bytes + kGuidHeader, 16, offset + kGuidHeader)) return false;
        header.fccType = GuidCode(bytes + kGuidHeader);
        header.length = kGuidHeader + 16;
    }
    return true;
}

bool Printable(FOURCC code) {
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<BYTE>(code >> (8 * i));
        if (c < (i == 0 ? 0x21 : 0x20) || c > 0x7E) return false;
    }
    return true;
}

}  // namespace

Layout LayoutAt(int fd, std::uint64_t offset) {
    Guid head{};
    if (!ReadAllAt(fd, head.data(), 4, offset)) return Layout::Riff;
    if (endian::LoadLe32(head.data()) == kRifx) return Layout::Rifx;
    if (ReadAllAt(fd, head.data(), head.size(), offset) && head == kRiffGuid) return Layout::Wave64;
    return Layout::Riff;
}

bool ReadHeader(const MMIO& file, std::uint64_t offset, ChunkHeader& header) {
    header = ChunkHeader{};
    if (file.layout == Layout::Wave64) return ReadGuidHeader(file.fd.get(), offset, header);
    BYTE bytes[12];
    if (!ReadAllAt(file.fd.get(), bytes, 8, offset)) return false;
    header.ckid = endian::LoadLe32(bytes);
    header.cksize = file.layout == Layout::Rifx ? endian::LoadBe32(bytes + 4) : endian::LoadLe32(bytes + 4);
    header.size = header.cksize;
    header.headerLength = 8;
    header.length = 8;
    if (IsForm(header.ckid)) {
        if (!ReadAllAt(file.fd.get(), bytes + 8, 4, offset + 8)) return false;
        header.fccType = endian::LoadLe32(bytes + 8);
        header.length = 12;
    }
    return true;
}

bool ChunkHeaderAt(const MMIO& file, std::uint64_t offset, std::uint64_t fileEnd) {
    ChunkHeader header;
    if (!ReadHeader(file, offset, header) || header.sizeUnusable) return false;
    const bool named = file.layout == Layout::Wave64 ? header.ckid != kUnnamedGuid : Printable(header.ckid);
    const std::uint64_t dataOffset = offset + header.headerLength;
    return named && dataOffset <= fileEnd && header.size <= fileEnd - dataOffset;
}

std::optional<std::uint64_t> NextChunk(Layout layout, std::uint64_t dataOffset, std::uint64_t dataSize,
                                       std::uint64_t limit) {
    if (dataOffset > limit || dataSize > limit - dataOffset) return std::nullopt;
    const std::uint64_t end = dataOffset + dataSize;
    const std::uint64_t pad = layout == Layout::Wave64 ? (8 - end % 8) % 8 : dataSize & 1;
    if (pad > limit - end) return std::nullopt;
    return end + pad;
}

std::uint64_t SmallestWaveForm(Layout layout) {
    // Form type, a format chunk of at least 14 bytes, and a data chunk's header.
    return layout == Layout::Wave64 ? 16 + (kGuidHeader + 14) + kGuidHeader : 4 + (8 + 14) + 8;
}

}  // namespace mmio_layout
