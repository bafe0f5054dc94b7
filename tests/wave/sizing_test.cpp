// The conversion's buffer-size and RIFF-limit rules, and its message table.
#include "res/strings.h"
#include "wave/waveio.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(DestinationBuffer, FourThousandBlocksUpToFourBytesThenAtLeastEightKiB) {
    EXPECT_EQ(DestinationBufferSize(4), 16384u);    // 16-bit stereo PCM
    EXPECT_EQ(DestinationBufferSize(1), 4096u);     // 8-bit mono, G.711
    EXPECT_EQ(DestinationBufferSize(256), 8192u);   // IMA ADPCM 8 kHz mono
    EXPECT_EQ(DestinationBufferSize(5), 8195u);     // just past the boundary: 1639 blocks
    EXPECT_EQ(DestinationBufferSize(6), 8196u);     // 24-bit stereo
    EXPECT_EQ(DestinationBufferSize(8), 8192u);     // 32-bit or float stereo
    EXPECT_EQ(DestinationBufferSize(65), 8255u);    // GSM 6.10: 127 blocks
    EXPECT_EQ(DestinationBufferSize(257), 257u * 32);  // past 8 KiB at 32 blocks
    EXPECT_EQ(DestinationBufferSize(0), 0u);        // no format chosen
    EXPECT_EQ(DestinationBufferSize(0xFFFF), 0xFFFFu * 32);
}

TEST(RiffLimit, DataMayFillTheFormUpToFourGibibytes) {
    // Data at offset 46 (18-byte format chunk): the form's size is 38 + data + pad.
    const std::uint64_t most = 0xFFFFFFFFull - 38;  // odd: its pad byte would not fit
    EXPECT_TRUE(DataFitsRiffForm(46, most - 1));
    EXPECT_FALSE(DataFitsRiffForm(46, most));
    EXPECT_FALSE(DataFitsRiffForm(46, most + 1));
    EXPECT_FALSE(DataFitsRiffForm(46, 0xFFFFFFFFull));
    EXPECT_TRUE(DataFitsRiffForm(46, 0));
    EXPECT_TRUE(DataFitsRiffForm(46, 1));
}

TEST(RiffLimit, OnlyOutputsNearFourGibibytesAreWrittenAsRf64) {
    auto wfx = [](WORD tag, DWORD rate, WORD align, DWORD avg) {
        return WAVEFORMATEX{tag, 2, rate, avg, align, 16, 0};
    };
    const WAVEFORMATEX cd = wfx(WAVE_FORMAT_PCM, 44100, 4, 0);  // byte rate from rate and block: 176,400
    const WAVEFORMATEX float48 = wfx(WAVE_FORMAT_IEEE_FLOAT, 48000, 8, 384000);
    const WAVEFORMATEX mulaw = wfx(WAVE_FORMAT_MULAW, 8000, 1, 8000);
    const WAVEFORMATEX mp3NoRate = wfx(WAVE_FORMAT_MPEGLAYER3, 44100, 1, 0);
    // 8-bit stereo whose block claims 4 bytes: read as 2 bytes a frame, as the reader reads it.
    const WAVEFORMATEX pcm8 = {WAVE_FORMAT_PCM, 2, 44100, 0, 4, 8, 0};
    const struct {
        const WAVEFORMATEX& src;
        const WAVEFORMATEX& dst;
        std::uint64_t cbData;
        bool rf64;
    } rows[] = {
        {cd, cd, 4'000'000'000ull, false},
        {cd, cd, 4'260'000'000ull, true},  // within the margin of the limit
        {cd, float48, 1'960'000'000ull, true},
        {cd, float48, 1'900'000'000ull, false},
        {cd, mulaw, 0xFFFFFFFFull, false},
        {mulaw, cd, 200'000'000ull, true},
        {mp3NoRate, cd, 3'000'000'000ull, false},  // unknown rate: as long as the source
        {mp3NoRate, cd, 4'290'000'000ull, true},
        {pcm8, cd, 2'200'000'000ull, true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(OutputMayPassRiffLimit(row.src, row.dst, row.cbData), row.rf64)
            << row.src.wFormatTag << " -> " << row.dst.wFormatTag << ", " << row.cbData << " bytes";
    }
}

TEST(Texts, EveryIdHasItsOwnText) {
    std::set<std::string> dialog, plain;
    for (int i = 0; i < static_cast<int>(Text::Count); ++i) {
        const auto id = static_cast<Text>(i);
        const std::string d = DialogText(id), p = PlainText(id);
        EXPECT_FALSE(p.empty()) << i;
        EXPECT_TRUE(plain.insert(p).second) << "duplicate plain text for id " << i;
        if (!d.empty()) {
            EXPECT_TRUE(dialog.insert(d).second) << "duplicate dialog text for id " << i;
        }
    }
    EXPECT_STREQ(DialogText(Text::DiskFull), "disk full");
    EXPECT_STREQ(DialogText(Text::Different), "違う\n");
    EXPECT_STREQ(DialogText(Text::Count), "");
    EXPECT_STREQ(PlainText(Text::NoDataChunk), "no \"data\" chunk");
    // Texts that are given a number take exactly one, as %lu, in both words.
    for (Text id : {Text::PathTooLong, Text::StreamOpenFailed, Text::CodecFailed, Text::DamagedBlocks,
                    Text::MetadataChunkTooLarge, Text::MetadataTooMuch, Text::MetadataTooMany, Text::MetadataUnread}) {
        for (const std::string text : {DialogText(id), PlainText(id)}) {
            if (text.empty()) continue;
            EXPECT_EQ(text.find('%'), text.rfind('%')) << text;
            EXPECT_NE(text.find("%lu"), std::string::npos) << text;
        }
    }
}

}  // namespace
