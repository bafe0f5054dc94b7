// The conversion's buffer-size and RIFF-limit rules, and its message table.
#include "wave/messages.h"
#include "wave/waveio.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(DestinationBuffer, FourThousandBlocksUpToFourBytesThenThirtyTwo) {
    EXPECT_EQ(DestinationBufferSize(4), 16384u);    // 16-bit stereo PCM
    EXPECT_EQ(DestinationBufferSize(1), 4096u);     // 8-bit mono, G.711
    EXPECT_EQ(DestinationBufferSize(256), 8192u);   // IMA ADPCM 8 kHz mono
    EXPECT_EQ(DestinationBufferSize(5), 160u);      // just past the boundary
    EXPECT_EQ(DestinationBufferSize(65), 2080u);    // GSM 6.10
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
    };
    for (const auto& row : rows) {
        EXPECT_EQ(OutputMayPassRiffLimit(row.src, row.dst, row.cbData), row.rf64)
            << row.src.wFormatTag << " -> " << row.dst.wFormatTag << ", " << row.cbData << " bytes";
    }
}

TEST(WaveMessages, EveryIdHasItsOwnText) {
    std::set<std::string> seen;
    for (int i = 0; i < static_cast<int>(WaveMessage::Count); ++i) {
        const std::string text = WaveMessageText(static_cast<WaveMessage>(i));
        EXPECT_FALSE(text.empty()) << i;
        EXPECT_TRUE(seen.insert(text).second) << "duplicate text for id " << i;
    }
    EXPECT_STREQ(WaveMessageText(WaveMessage::DiskFull), "disk full");
    EXPECT_STREQ(WaveMessageText(WaveMessage::Count), "");
    // Texts that take the codec service's result code take exactly one number.
    for (WaveMessage id : {WaveMessage::StreamOpenFailed, WaveMessage::CodecFailed}) {
        const std::string text = WaveMessageText(id);
        EXPECT_EQ(text.find("%u"), text.rfind('%')) << text;
    }
}

}  // namespace
