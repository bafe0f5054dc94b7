// RIFF chunk reading and writing on real files.
#include "platform/kernel/lasterror.h"
#include "platform/mmio/mmio.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

namespace {

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;
using Bytes = std::vector<std::uint8_t>;

void Append(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }
void AppendU32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
std::uint32_t U32At(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

struct Closer {
    void operator()(HMMIO h) const {
        if (h != nullptr) mmioClose(h, 0);
    }
};
using File = std::unique_ptr<MMIO, Closer>;

File OpenRead(const std::string& path) { return File(mmioOpenA(path.c_str(), nullptr, MMIO_READ)); }

TEST(MmioFourcc, PadsWithBlanksAndUpperCasesOnRequest) {
    EXPECT_EQ(mmioStringToFOURCC("fmt ", 0), mmioFOURCC('f', 'm', 't', ' '));
    EXPECT_EQ(mmioStringToFOURCC("fmt", 0), mmioFOURCC('f', 'm', 't', ' '));
    EXPECT_EQ(mmioStringToFOURCC("wave", MMIO_TOUPPER), mmioFOURCC('W', 'A', 'V', 'E'));
    EXPECT_EQ(mmioStringToFOURCC("riff", 0), mmioFOURCC('r', 'i', 'f', 'f'));
    EXPECT_EQ(mmioStringToFOURCC("", 0), mmioFOURCC(' ', ' ', ' ', ' '));
    EXPECT_EQ(mmioStringToFOURCC("datalong", 0), mmioFOURCC('d', 'a', 't', 'a'));
}

TEST(MmioOpen, ReportsWhyAFileCannotBeOpened) {
    TempDir dir;
    SetLastError(0);
    EXPECT_EQ(mmioOpenA(dir.file("missing.wav").c_str(), nullptr, MMIO_READ), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_STREQ(LastErrorReason(), "No such file or directory");
    EXPECT_EQ(mmioOpenA(dir.file("no/such/dir.wav").c_str(), nullptr, MMIO_READ), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(mmioOpenA("", nullptr, MMIO_READ), nullptr);
    // A directory is not a file of chunks.
    EXPECT_EQ(mmioOpenA(dir.path().c_str(), nullptr, MMIO_READ), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_STREQ(LastErrorReason(), "Is a directory");
    EXPECT_EQ(mmioOpenA(dir.file("x").c_str(), nullptr, MMIO_CREATE | MMIO_WRITE | 0x100), nullptr);
}

TEST(MmioOpen, PipesAreRefusedWithoutWaiting) {
    TempDir dir;
    const std::string fifo = dir.file("pipe.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Nobody writes or reads at the other end: opening must not block.
    EXPECT_EQ(mmioOpenA(fifo.c_str(), nullptr, MMIO_READ), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(LastErrorRefusal(), Refusal::NotRegularFile);
    EXPECT_STREQ(LastErrorReason(), "");
    EXPECT_EQ(mmioOpenA(fifo.c_str(), nullptr, MMIO_CREATE | MMIO_WRITE), nullptr);
}

TEST(MmioOpen, CreateEmptiesAnExistingFile) {
    TempDir dir;
    const std::string path = dir.file("old.wav");
    WriteBytes(path, Bytes(1000, 0x55));
    HMMIO h = mmioOpenA(path.c_str(), nullptr, MMIO_CREATE | MMIO_WRITE);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioWrite(h, "abc", 3), 3);
    EXPECT_EQ(mmioClose(h, 0), 0u);
    EXPECT_EQ(ReadBytes(path), (Bytes{'a', 'b', 'c'}));
}

// RIFF form "WAVE", then chunks of 3 bytes (odd, padded), 16 bytes and a LIST.
Bytes SampleForm() {
    Bytes b;
    Append(b, "RIFF");
    AppendU32(b, 0);  // patched below
    Append(b, "WAVE");
    Append(b, "odd ");
    AppendU32(b, 3);
    b.insert(b.end(), {1, 2, 3, 0});
    Append(b, "fmt ");
    AppendU32(b, 16);
    for (int i = 0; i < 16; ++i) b.push_back(static_cast<std::uint8_t>(0xA0 + i));
    Append(b, "LIST");
    AppendU32(b, 4);
    Append(b, "INFO");
    const std::uint32_t riffSize = static_cast<std::uint32_t>(b.size() - 8);
    std::memcpy(&b[4], &riffSize, 4);
    return b;
}

TEST(MmioRead, DescendsAndAscendsThroughChunksInOrder) {
    TempDir dir;
    const std::string path = dir.file("form.wav");
    const Bytes form = SampleForm();
    WriteBytes(path, form);
    File f = OpenRead(path);
    ASSERT_TRUE(f);

    MMCKINFO riff{}, odd{}, fmt{}, list{}, past{};
    ASSERT_EQ(mmioDescend(f.get(), &riff, nullptr, 0), 0u);
    EXPECT_EQ(riff.ckid, mmioFOURCC('R', 'I', 'F', 'F'));
    EXPECT_EQ(riff.cksize, form.size() - 8);
    EXPECT_EQ(riff.fccType, mmioFOURCC('W', 'A', 'V', 'E'));
    EXPECT_EQ(riff.dwDataOffset, 8u);

    ASSERT_EQ(mmioDescend(f.get(), &odd, &riff, 0), 0u);
    EXPECT_EQ(odd.ckid, mmioFOURCC('o', 'd', 'd', ' '));
    EXPECT_EQ(odd.cksize, 3u);
    EXPECT_EQ(odd.fccType, 0u);
    EXPECT_EQ(odd.dwDataOffset, 20u);
    char two[2];
    EXPECT_EQ(mmioRead(f.get(), two, 2), 2);
    EXPECT_EQ(two[1], 2);
    // Ascending skips the rest of the data and the pad byte.
    ASSERT_EQ(mmioAscend(f.get(), &odd, 0), 0u);

    ASSERT_EQ(mmioDescend(f.get(), &fmt, &riff, 0), 0u);
    EXPECT_EQ(fmt.ckid, mmioFOURCC('f', 'm', 't', ' '));
    EXPECT_EQ(fmt.cksize, 16u);
    EXPECT_EQ(fmt.dwDataOffset, 32u);
    Bytes block(20, 0xEE);
    // Reading past the chunk's end is the caller's business: the reader only
    // stops at the end of the file.
    EXPECT_EQ(mmioRead(f.get(), reinterpret_cast<char*>(block.data()), 20), 20);
    EXPECT_EQ(block[0], 0xA0);
    EXPECT_EQ(block[15], 0xAF);
    EXPECT_EQ(block[16], 'L');
    ASSERT_EQ(mmioAscend(f.get(), &fmt, 0), 0u);

    ASSERT_EQ(mmioDescend(f.get(), &list, &riff, 0), 0u);
    EXPECT_EQ(list.ckid, mmioFOURCC('L', 'I', 'S', 'T'));
    EXPECT_EQ(list.fccType, mmioFOURCC('I', 'N', 'F', 'O'));
    ASSERT_EQ(mmioAscend(f.get(), &list, 0), 0u);

    // At the end of the file there is no header to enter.
    EXPECT_EQ(mmioDescend(f.get(), &past, &riff, 0), MMIOERR_CHUNKNOTFOUND);
    EXPECT_EQ(past.ckid, 0u);
    EXPECT_EQ(mmioRead(f.get(), two, 2), 0);
}

TEST(MmioRead, HeaderThatCannotBeReadInFullMatchesNoIdentifier) {
    TempDir dir;
    const std::string path = dir.file("short.wav");
    const Bytes full = SampleForm();
    // 0..7 bytes: no chunk header; 8..11 bytes: "RIFF" and size but no form type.
    for (std::size_t length : {0, 3, 4, 7, 8, 11}) {
        WriteBytes(path, Bytes(full.begin(), full.begin() + static_cast<long>(length)));
        File f = OpenRead(path);
        ASSERT_TRUE(f);
        MMCKINFO ck{};
        ck.ckid = 0x12345678;
        EXPECT_NE(mmioDescend(f.get(), &ck, nullptr, 0), 0u) << length;
        EXPECT_EQ(ck.ckid, 0u) << length;
        EXPECT_EQ(ck.fccType, 0u) << length;
    }
    // A plain chunk needs no form type: 8 bytes are a whole header.
    Bytes junk;
    Append(junk, "JUNK");
    AppendU32(junk, 100);
    WriteBytes(path, junk);
    File f = OpenRead(path);
    MMCKINFO ck{};
    EXPECT_EQ(mmioDescend(f.get(), &ck, nullptr, 0), 0u);
    EXPECT_EQ(ck.ckid, mmioFOURCC('J', 'U', 'N', 'K'));
    EXPECT_EQ(ck.cksize, 100u);
}

TEST(MmioRead, IdentifiersAreNotCaseFolded) {
    TempDir dir;
    const std::string path = dir.file("lower.wav");
    Bytes b;
    Append(b, "riff");
    AppendU32(b, 4);
    Append(b, "WAVE");
    WriteBytes(path, b);
    File f = OpenRead(path);
    MMCKINFO ck{};
    ASSERT_EQ(mmioDescend(f.get(), &ck, nullptr, 0), 0u);
    EXPECT_EQ(ck.ckid, mmioFOURCC('r', 'i', 'f', 'f'));
    EXPECT_NE(ck.ckid, mmioStringToFOURCC("RIFF", MMIO_TOUPPER));
    // Only "RIFF" and "LIST" carry a form type.
    EXPECT_EQ(ck.fccType, 0u);
    EXPECT_EQ(ck.dwDataOffset, 8u);
}

TEST(MmioRead, SizesAreUnsignedAndAscendMayPassTheEnd) {
    TempDir dir;
    const std::string path = dir.file("big.wav");
    Bytes b;
    Append(b, "data");
    AppendU32(b, 0xFFFFFFFFu);
    b.insert(b.end(), {9, 8, 7});
    WriteBytes(path, b);
    File f = OpenRead(path);
    MMCKINFO ck{};
    ASSERT_EQ(mmioDescend(f.get(), &ck, nullptr, 0), 0u);
    EXPECT_EQ(ck.cksize, 0xFFFFFFFFu);
    char buf[16];
    EXPECT_EQ(mmioRead(f.get(), buf, 16), 3);
    EXPECT_EQ(mmioAscend(f.get(), &ck, 0), 0u);
    EXPECT_EQ(mmioRead(f.get(), buf, 16), 0);
}

TEST(MmioRead, SearchSkipsOtherChunksAndStopsAtLyingSizes) {
    TempDir dir;
    const std::string path = dir.file("search.wav");
    auto find = [&path](const Bytes& bytes, const char* id) {
        WriteBytes(path, bytes);
        File f = OpenRead(path);
        MMCKINFO riff{}, ck{};
        EXPECT_EQ(mmioDescend(f.get(), &riff, nullptr, 0), 0u);
        ck.ckid = mmioStringToFOURCC(id, 0);
        const MMRESULT r = mmioDescend(f.get(), &ck, &riff, MMIO_FINDCHUNK);
        EXPECT_EQ(r == 0, ck.ckid != 0);
        return ck;
    };
    const Bytes form = SampleForm();
    // Found past a chunk of odd size and its pad byte; a LIST's type is read.
    EXPECT_EQ(find(form, "fmt ").dwDataOffset, 32u);
    EXPECT_EQ(find(form, "LIST").fccType, mmioFOURCC('I', 'N', 'F', 'O'));
    EXPECT_EQ(find(form, "data").ckid, 0u);

    auto withChunk = [&form](std::uint32_t size, std::size_t copies = 1) {
        Bytes b(form.begin(), form.begin() + 12);
        for (std::size_t i = 0; i < copies; ++i) {
            Append(b, "PAD ");
            AppendU32(b, size);
        }
        b.insert(b.end(), form.begin() + 12, form.end());
        const std::uint32_t riffSize = static_cast<std::uint32_t>(b.size() - 8);
        std::memcpy(&b[4], &riffSize, 4);
        return b;
    };
    EXPECT_NE(find(withChunk(0, 1000), "fmt ").ckid, 0u);
    // Sizes that run past the form or the file, and endless runs of empty chunks, end the search.
    for (const Bytes& b : {withChunk(0xFFFFFFFFu), withChunk(0x7FFFFFFFu), withChunk(24), withChunk(0, 70000)}) {
        EXPECT_EQ(find(b, "fmt ").ckid, 0u);
    }
    // A form size of 0, as streaming writers leave it, bounds nothing but the file.
    Bytes streaming = form;
    std::memset(&streaming[4], 0, 4);
    EXPECT_NE(find(streaming, "fmt ").ckid, 0u);
}

// "RF64", "ds64" with form, data and sample counts and a table entry for "big ",
// then "fmt ", "big " and "data" whose 32-bit sizes say "see ds64".
Bytes WideForm(const char* formId, std::uint64_t dataSize) {
    auto put64 = [](Bytes& b, std::uint64_t v) {
        for (int i = 0; i < 8; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    Bytes b;
    Append(b, formId);
    AppendU32(b, 0xFFFFFFFFu);
    Append(b, "WAVEds64");
    AppendU32(b, 40);
    put64(b, 0x123456789ull);
    put64(b, dataSize);
    put64(b, 0);
    AppendU32(b, 1);
    Append(b, "big ");
    put64(b, 2);
    Append(b, "fmt ");
    AppendU32(b, 2);
    b.insert(b.end(), {7, 7});
    Append(b, "big ");
    AppendU32(b, 0xFFFFFFFFu);
    b.insert(b.end(), {5, 5});
    Append(b, "data");
    AppendU32(b, 0xFFFFFFFFu);
    b.insert(b.end(), {1, 2, 3, 4});
    return b;
}

TEST(MmioRead, WideFormsAreReadWithTheirDs64Sizes) {
    TempDir dir;
    const std::string path = dir.file("rf64.wav");
    for (const char* id : {"RF64", "BW64"}) {
        WriteBytes(path, WideForm(id, 0x100000004ull));
        File f = OpenRead(path);
        MMCKINFO riff{}, data{};
        ASSERT_EQ(mmioDescend(f.get(), &riff, nullptr, 0), 0u);
        EXPECT_EQ(riff.ckid, mmioFOURCC('R', 'I', 'F', 'F')) << id;
        EXPECT_EQ(riff.dwFlags, MMIO_WIDEFORM);
        EXPECT_EQ(riff.cksize64, 0x123456789ull);
        data.ckid = mmioStringToFOURCC("data", 0);
        // "big " is skipped by the size the ds64 table gives it.
        ASSERT_EQ(mmioDescend(f.get(), &data, &riff, MMIO_FINDCHUNK), 0u);
        EXPECT_EQ(data.cksize, 0xFFFFFFFFu);
        EXPECT_EQ(data.cksize64, 0x100000004ull);
        char buf[8];
        EXPECT_EQ(mmioRead(f.get(), buf, 8), 4);
    }
    // Without "ds64" first, a 64-bit form is not a form this reader enters.
    Bytes noDs64 = WideForm("RF64", 4);
    std::memcpy(&noDs64[12], "JUNK", 4);
    WriteBytes(path, noDs64);
    File f = OpenRead(path);
    MMCKINFO riff{};
    ASSERT_EQ(mmioDescend(f.get(), &riff, nullptr, 0), 0u);
    EXPECT_EQ(riff.ckid, mmioFOURCC('R', 'F', '6', '4'));
}

void AppendNumber(Bytes& out, std::uint64_t v, int bytes, bool bigEndian = false) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * (bigEndian ? bytes - 1 - i : i))));
}

// A stereo 8,000 Hz format block in either byte order; an extensible one
// with its sub-format GUID's numbers in that order too.
Bytes Block(bool bigEndian, std::uint32_t tag, std::uint32_t bits, std::uint32_t subTag) {
    std::vector<std::pair<std::uint32_t, int>> fields = {{tag, 2}, {2, 2}, {8000, 4}, {0, 4}, {4, 2}, {bits, 2}};
    if (tag == 0xFFFE) fields.insert(fields.end(), {{22, 2}, {bits, 2}, {3, 4}, {subTag, 4}, {0, 2}, {0x10, 2}});
    Bytes b;
    for (auto [v, n] : fields) AppendNumber(b, v, n, bigEndian);
    if (tag == 0xFFFE) b.insert(b.end(), {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
    return b;
}

TEST(MmioRead, RifxIsHandedOutAsLittleEndianRiff) {
    TempDir dir;
    const std::string path = dir.file("rifx.wav");
    Bytes samples;
    for (std::uint8_t i = 1; i <= 24; ++i) samples.push_back(i);
    // PCM and float samples are swapped by their width; 8-bit and encoded data stay.
    for (auto [tag, bits, subTag, width] : {std::tuple{1, 16, 0, 2}, {3, 64, 0, 8}, {1, 8, 0, 1}, {0x11, 4, 0, 1},
                                            {0xFFFE, 24, 1, 3}, {0xFFFE, 32, 3, 4}}) {
        SCOPED_TRACE(std::to_string(tag) + " " + std::to_string(bits));
        const Bytes fmt = Block(true, tag, bits, subTag);
        Bytes b;
        Append(b, "RIFX");
        AppendNumber(b, 4 + 8 + fmt.size() + 12 + 8 + samples.size(), 4, true);
        Append(b, "WAVEfmt ");
        AppendNumber(b, fmt.size(), 4, true);
        b.insert(b.end(), fmt.begin(), fmt.end());
        for (std::uint32_t v : {mmioFOURCC('t', 'c', 'a', 'f'), 4u, 6u, mmioFOURCC('a', 't', 'a', 'd'), 24u}) AppendNumber(b, v, 4, true);
        b.insert(b.end(), samples.begin(), samples.end());
        WriteBytes(path, b);

        File f = OpenRead(path);
        MMCKINFO riff{}, ck{};
        ASSERT_EQ(mmioDescend(f.get(), &riff, nullptr, 0), 0u);
        EXPECT_EQ(riff.ckid, mmioFOURCC('R', 'I', 'F', 'F'));
        Bytes got(fmt.size()), frames(4);
        ASSERT_EQ(mmioDescend(f.get(), &ck, &riff, 0), 0u);
        ASSERT_EQ(mmioRead(f.get(), reinterpret_cast<char*>(got.data()), ck.cksize), static_cast<LONG>(fmt.size()));
        EXPECT_EQ(got, Block(false, tag, bits, subTag));
        ASSERT_EQ(mmioAscend(f.get(), &ck, 0), 0u);
        ASSERT_EQ(mmioDescend(f.get(), &ck, &riff, 0), 0u);
        ASSERT_EQ(mmioRead(f.get(), reinterpret_cast<char*>(frames.data()), 4), 4);
        EXPECT_EQ(U32At(frames, 0), 6u);
        ck.ckid = mmioFOURCC('d', 'a', 't', 'a');
        ASSERT_EQ(mmioDescend(f.get(), &ck, &riff, MMIO_FINDCHUNK), 0u);
        // Reads of 5 bytes start and end inside samples.
        got.assign(24, 0);
        for (LONG at = 0; at < 24; at += 5) mmioRead(f.get(), reinterpret_cast<char*>(got.data()) + at, std::min<LONG>(5, 24 - at));
        Bytes want = samples;
        for (int at = 0; at < 24; at += width) std::reverse(want.begin() + at, want.begin() + at + width);
        EXPECT_EQ(got, want);
    }
}

TEST(MmioRead, UnfilledDataSizeReachesPastFourGiB) {
    TempDir dir;
    const std::string path = dir.file("rec.wav");
    Bytes b;
    Append(b, "RIFF");
    AppendU32(b, 0xFFFFFFFFu);
    Append(b, "WAVEfmt ");
    AppendU32(b, 16);
    b.insert(b.end(), {1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 2, 0, 16, 0});
    Append(b, "data");
    AppendU32(b, 0xFFFFFFFFu);
    WriteBytes(path, b);
    // A sparse file of 5 GiB of samples after the 44-byte head.
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>((5ull << 30) + 44)), 0);
    File f = OpenRead(path);
    MMCKINFO riff{}, data{};
    ASSERT_EQ(mmioDescend(f.get(), &riff, nullptr, 0), 0u);
    data.ckid = mmioFOURCC('d', 'a', 't', 'a');
    ASSERT_EQ(mmioDescend(f.get(), &data, &riff, MMIO_FINDCHUNK), 0u);
    EXPECT_EQ(data.cksize64, 5ull << 30);
}

TEST(MmioWrite, CreatedChunksGetTheirSizesAndPadBytes) {
    TempDir dir;
    const std::string path = dir.file("out.wav");
    HMMIO h = mmioOpenA(path.c_str(), nullptr, MMIO_CREATE | MMIO_WRITE);
    ASSERT_NE(h, nullptr);

    MMCKINFO riff{}, fmt{}, data{};
    riff.fccType = mmioStringToFOURCC("WAVE", 0);
    ASSERT_EQ(mmioCreateChunk(h, &riff, MMIO_CREATERIFF), 0u);
    EXPECT_EQ(riff.dwDataOffset, 8u);
    fmt.ckid = mmioStringToFOURCC("fmt ", 0);
    ASSERT_EQ(mmioCreateChunk(h, &fmt, 0), 0u);
    EXPECT_EQ(fmt.dwDataOffset, 20u);
    const char block[19] = "0123456789abcdefgh";
    ASSERT_EQ(mmioWrite(h, block, 19), 19);
    ASSERT_EQ(mmioAscend(h, &fmt, 0), 0u);
    EXPECT_EQ(fmt.cksize, 19u);

    data.ckid = mmioStringToFOURCC("data", 0);
    ASSERT_EQ(mmioCreateChunk(h, &data, 0), 0u);
    EXPECT_EQ(data.dwDataOffset, 48u);
    ASSERT_EQ(mmioWrite(h, "xyz", 3), 3);
    ASSERT_EQ(mmioWrite(h, "", 0), 0);
    ASSERT_EQ(mmioWrite(h, "uv", 2), 2);
    ASSERT_EQ(mmioAscend(h, &data, 0), 0u);
    EXPECT_EQ(data.cksize, 5u);
    ASSERT_EQ(mmioAscend(h, &riff, 0), 0u);
    ASSERT_EQ(mmioClose(h, 0), 0u);

    const Bytes out = ReadBytes(path);
    ASSERT_EQ(out.size(), 48u + 5 + 1);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 4), "RIFF");
    EXPECT_EQ(U32At(out, 4), out.size() - 8);
    EXPECT_EQ(std::string(out.begin() + 8, out.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(U32At(out, 16), 19u);
    EXPECT_EQ(std::string(out.begin() + 20, out.begin() + 39), std::string(block, 19));
    EXPECT_EQ(out[39], 0);  // pad
    EXPECT_EQ(std::string(out.begin() + 40, out.begin() + 44), "data");
    EXPECT_EQ(U32At(out, 44), 5u);
    EXPECT_EQ(std::string(out.begin() + 48, out.begin() + 53), "xyzuv");
    EXPECT_EQ(out[53], 0);  // pad

    // What the writer made, the reader reads back.
    File f = OpenRead(path);
    MMCKINFO r{}, c1{}, c2{};
    ASSERT_EQ(mmioDescend(f.get(), &r, nullptr, 0), 0u);
    EXPECT_EQ(r.fccType, riff.fccType);
    ASSERT_EQ(mmioDescend(f.get(), &c1, &r, 0), 0u);
    ASSERT_EQ(mmioAscend(f.get(), &c1, 0), 0u);
    ASSERT_EQ(mmioDescend(f.get(), &c2, &r, 0), 0u);
    EXPECT_EQ(c2.ckid, data.ckid);
    EXPECT_EQ(c2.cksize, 5u);
}

// A pipe has no position to go back to: the form and "data" go out at once
// with the streaming placeholder, an RF64 request gives a RIFF form, and a
// chunk after "data" is held until it is left, then sent with its size.
TEST(MmioWrite, StreamGetsPlaceholdersAndChunksSentWithTheirSizes) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    HMMIO h = mmioOpenFd(UniqueFd(ends[1]), MMIO_WRITE);
    ASSERT_NE(h, nullptr);
    MMCKINFO riff{}, data{}, fact{};
    riff.fccType = mmioStringToFOURCC("WAVE", 0);
    data.ckid = mmioStringToFOURCC("data", 0);
    fact.ckid = mmioStringToFOURCC("fact", 0);
    ASSERT_EQ(mmioCreateChunk(h, &riff, MMIO_CREATERF64), 0u);
    ASSERT_EQ(mmioCreateChunk(h, &data, 0), 0u);
    ASSERT_EQ(mmioWrite(h, "xyz", 3), 3);
    ASSERT_EQ(mmioAscend(h, &data, 0), 0u);
    ASSERT_EQ(mmioCreateChunk(h, &fact, 0), 0u);
    ASSERT_EQ(mmioWrite(h, "12345", 5), 5);
    ASSERT_EQ(mmioAscend(h, &fact, 0), 0u);
    ASSERT_EQ(mmioAscend(h, &riff, 0), 0u);
    ASSERT_EQ(mmioClose(h, 0), 0u);
    Bytes out(64);
    out.resize(static_cast<std::size_t>(std::max<ssize_t>(0, ::read(ends[0], out.data(), out.size()))));
    ::close(ends[0]);

    Bytes want;
    Append(want, "RIFF");
    AppendU32(want, 0xFFFFFFFFu);
    Append(want, "WAVEdata");
    AppendU32(want, 0xFFFFFFFFu);
    Append(want, std::string("xyz\0fact", 8));
    AppendU32(want, 5);
    Append(want, std::string("12345\0", 6));
    EXPECT_EQ(out, want);
}

// Creates path with a form of type "WAVE" in it, plain or 64-bit.
HMMIO CreateForm(const std::string& path, UINT flags, MMCKINFO& form) {
    HMMIO h = mmioOpenA(path.c_str(), nullptr, MMIO_CREATE | MMIO_WRITE);
    form.fccType = mmioStringToFOURCC("WAVE", 0);
    if (h != nullptr) {
        EXPECT_EQ(mmioCreateChunk(h, &form, flags), 0u);
    }
    return h;
}

TEST(MmioWrite, WideFormKeepsItsSizesInDs64) {
    TempDir dir;
    const std::string path = dir.file("out.wav");
    // A 64-bit form around an 18-byte "fmt " and a 3-byte "data" chunk.
    MMCKINFO form{}, data{};
    HMMIO h = CreateForm(path, MMIO_CREATERF64, form);
    ASSERT_NE(h, nullptr);
    for (const auto& [id, bytes] : {std::pair{"fmt ", std::string("0123456789abcdefgh")}, {"data", "xyz"}}) {
        data.ckid = mmioStringToFOURCC(id, 0);
        ASSERT_EQ(mmioCreateChunk(h, &data, 0), 0u);
        ASSERT_EQ(mmioWrite(h, bytes.data(), static_cast<LONG>(bytes.size())), static_cast<LONG>(bytes.size()));
        ASSERT_EQ(mmioAscend(h, &data, 0), 0u);
    }
    ASSERT_EQ(mmioAscend(h, &form, 0), 0u);
    ASSERT_EQ(mmioClose(h, 0), 0u);

    const Bytes out = ReadBytes(path);
    ASSERT_EQ(out.size(), 12u + 36 + 26 + 8 + 4);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 4), "RF64");
    EXPECT_EQ(U32At(out, 4), 0xFFFFFFFFu);
    EXPECT_EQ(std::string(out.begin() + 8, out.begin() + 16), "WAVEds64");
    EXPECT_EQ(U32At(out, 16), 28u);
    EXPECT_EQ(U32At(out, 20), out.size() - 8);  // form size, low and high halves
    EXPECT_EQ(U32At(out, 24), 0u);
    EXPECT_EQ(U32At(out, 28), 3u);  // data size
    EXPECT_EQ(std::string(out.begin() + 74, out.begin() + 78), "data");
    EXPECT_EQ(U32At(out, 78), 0xFFFFFFFFu);
    EXPECT_EQ(out.back(), 0);  // pad

    File f = OpenRead(path);
    MMCKINFO riff{}, back{};
    ASSERT_EQ(mmioDescend(f.get(), &riff, nullptr, 0), 0u);
    back.ckid = data.ckid;
    ASSERT_EQ(mmioDescend(f.get(), &back, &riff, MMIO_FINDCHUNK), 0u);
    EXPECT_EQ(back.cksize64, 3u);
}

TEST(MmioWrite, EmptyChunkStaysEmpty) {
    TempDir dir;
    const std::string path = dir.file("empty.wav");
    MMCKINFO riff{}, data{};
    HMMIO h = CreateForm(path, MMIO_CREATERIFF, riff);
    ASSERT_NE(h, nullptr);
    data.ckid = mmioStringToFOURCC("data", 0);
    ASSERT_EQ(mmioCreateChunk(h, &data, 0), 0u);
    ASSERT_EQ(mmioAscend(h, &data, 0), 0u);
    ASSERT_EQ(mmioAscend(h, &riff, 0), 0u);
    ASSERT_EQ(mmioClose(h, 0), 0u);
    const Bytes out = ReadBytes(path);
    ASSERT_EQ(out.size(), 20u);
    EXPECT_EQ(U32At(out, 4), 12u);
    EXPECT_EQ(U32At(out, 16), 0u);
}

TEST(MmioWrite, FullDeviceFailsEveryWrite) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    HMMIO h = mmioOpenA("/dev/full", nullptr, MMIO_CREATE | MMIO_WRITE);
    ASSERT_NE(h, nullptr);
    SetLastError(0);
    EXPECT_EQ(mmioWrite(h, "abcd", 4), -1);
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    MMCKINFO riff{};
    riff.fccType = mmioStringToFOURCC("WAVE", 0);
    EXPECT_EQ(mmioCreateChunk(h, &riff, MMIO_CREATERIFF), MMIOERR_CANNOTWRITE);
    EXPECT_EQ(mmioClose(h, 0), 0u);
}

TEST(MmioWrite, ReadOnlyHandleRefusesWrites) {
    TempDir dir;
    const std::string path = dir.file("ro.wav");
    WriteBytes(path, SampleForm());
    File f = OpenRead(path);
    ASSERT_TRUE(f);
    EXPECT_EQ(mmioWrite(f.get(), "abcd", 4), -1);
    MMCKINFO ck{};
    ck.ckid = mmioStringToFOURCC("data", 0);
    EXPECT_NE(mmioCreateChunk(f.get(), &ck, 0), 0u);
    EXPECT_EQ(ReadBytes(path), SampleForm());
}

}  // namespace
