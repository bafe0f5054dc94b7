// RIFX and Wave64 copies of a WAVE file written by the program.
#include "layouts.h"

#include "platform/endian.h"

#include <algorithm>

namespace fuzzing {

namespace {

using Bytes = std::vector<std::uint8_t>;

void Reverse(Bytes& b, std::size_t at, std::size_t n) {
    if (at + n <= b.size()) std::reverse(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
}

// Where the chunks of a RIFF file written by the program begin.
std::vector<std::size_t> ChunkOffsets(const Bytes& riff) {
    std::vector<std::size_t> offsets;
    for (std::size_t at = 12; at + 8 <= riff.size(); at += 8 + endian::LoadLe32(&riff[at + 4]) + (riff[at + 4] & 1))
        offsets.push_back(at);
    return offsets;
}

}  // namespace

Bytes AsRifx(Bytes b) {
    std::size_t width = 0;
    for (std::size_t at : ChunkOffsets(b)) {
        const std::size_t size = endian::LoadLe32(&b[at + 4]), data = at + 8;
        const bool extensible = endian::LoadLe16(&b[data]) == 0xFFFE;
        if (std::equal(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(data - 4), "fmt ")) {
            const std::uint32_t tag = extensible ? endian::LoadLe32(&b[data + 24]) : endian::LoadLe16(&b[data]);
            width = tag == 1 || tag == 3 ? (endian::LoadLe16(&b[data + 14]) + 7) / 8 : 0;
            for (auto [field, n] : {std::pair{0, 2}, {2, 2}, {4, 4}, {8, 4}, {12, 2}, {14, 2}, {16, 2}, {18, 2},
                                    {20, 4}, {24, 4}, {28, 2}, {30, 2}})
                if (field + n <= (extensible ? 32 : 18) && static_cast<std::size_t>(field + n) <= size)
                    Reverse(b, data + field, n);
        } else if (std::equal(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(data - 4), "data")) {
            for (std::size_t s = data; width > 1 && s + width <= data + size; s += width) Reverse(b, s, width);
        }
        Reverse(b, at + 4, 4);
    }
    std::copy_n("RIFX", 4, b.begin());
    Reverse(b, 4, 4);
    return b;
}

Bytes AsWave64(const Bytes& riff) {
    const Bytes codeTail = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
    Bytes out = {'r', 'i', 'f', 'f', 0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
    out.resize(24, 0);  // the size, written last
    out.insert(out.end(), {'w', 'a', 'v', 'e'});
    out.insert(out.end(), codeTail.begin(), codeTail.end());
    for (std::size_t at : ChunkOffsets(riff)) {
        const std::size_t size = std::min<std::size_t>(endian::LoadLe32(&riff[at + 4]), riff.size() - at - 8);
        const bool data = std::equal(riff.begin() + static_cast<long>(at), riff.begin() + static_cast<long>(at + 4), "data");
        if (data) {
            // A chunk whose GUID has another tail: skipped like any other.
            out.insert(out.end(), {'o', 'd', 'd', ' '});
            out.insert(out.end(), codeTail.begin(), codeTail.end() - 1);
            out.insert(out.end(), {0x00, 27, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 0, 0, 0, 0, 0});
        }
        out.insert(out.end(), riff.begin() + static_cast<long>(at), riff.begin() + static_cast<long>(at + 4));
        out.insert(out.end(), codeTail.begin(), codeTail.end());
        endian::AppendLe(out, 24 + std::uint64_t{size}, 8);
        out.insert(out.end(), riff.begin() + static_cast<long>(at + 8), riff.begin() + static_cast<long>(at + 8 + size));
        out.resize((out.size() + 7) / 8 * 8, 0);
    }
    endian::StoreLe64(&out[16], out.size());
    return out;
}

}  // namespace fuzzing
