// Every format the chooser offers, through the program's own conversion: a
// short signal converted into it and back again. Built with the sanitizers,
// LeakSanitizer checks at exit that every codec object, buffer and file the
// conversions opened was released; the test itself checks that each
// conversion completed and gave sound back.
#include "platform/acm/catalogue.h"
#include "reliability.h"
#include "support/scripted.h"
#include "wave/convert.h"

#include <gtest/gtest.h>

namespace {

using testsupport::ReadBytes;
using testsupport::TempDir;

struct Offered {
    std::string name;
    const acm::CatalogueFormat* format;
};

std::vector<Offered> AllOffered() {
    std::vector<Offered> out;
    for (const acm::CatalogueTag* tag : acm::ChooserTags())
        for (const acm::CatalogueFormat& f : tag->formats) out.push_back({tag->name + " " + f.name, &f});
    return out;
}

// The data chunk's size in a file the program wrote: 46 bytes of head for an
// 18-byte format chunk, more for longer ones.
std::uint32_t DataSize(const std::string& path) {
    const reliability::Bytes file = ReadBytes(path);
    if (file.size() < 28) return 0;
    const std::uint32_t cbFmt = file[16] | (file[17] << 8) | (file[18] << 16) | (file[19] << 24);
    const std::size_t at = 20 + cbFmt + (cbFmt & 1) + 4;
    if (at + 4 > file.size()) return 0;
    return file[at] | (file[at + 1] << 8) | (file[at + 2] << 16) | (static_cast<std::uint32_t>(file[at + 3]) << 24);
}

TEST(EveryFormat, ConvertsThereAndBackAndReleasesEverything) {
    const std::vector<Offered> offered = AllOffered();
    ASSERT_GT(offered.size(), 100u);
    TempDir dir;
    const WAVEFORMATEX pcm = testsupport::PcmFormat(44100, 16, 2);
    const std::string src = testsupport::WriteTestWave(dir.file("in.wav"), pcm, 4410);  // 0.1 s
    const std::string there = dir.file("there.wav");
    const std::string back = dir.file("back.wav");

    ScriptedBackend backend;
    SetWindowBackend(&backend);
    for (const Offered& o : offered) {
        SCOPED_TRACE(o.name);
        const auto* pwfx = reinterpret_cast<const WAVEFORMATEX*>(o.format->block.data());
        EXPECT_EQ(ConvertWave(src.c_str(), there.c_str(), pwfx, testsupport::BoxReporter()), 0);
        EXPECT_GT(DataSize(there), 0u);
        EXPECT_EQ(ConvertWave(there.c_str(), back.c_str(), &pcm, testsupport::BoxReporter()), 0);
        // At least the signal's length came back (codecs may add their delay).
        EXPECT_GE(DataSize(back), 4410u * 4 * 9 / 10);
    }
    SetWindowBackend(nullptr);
    EXPECT_TRUE(backend.Transcript().empty()) << backend.Transcript().front();
    EXPECT_EQ(reliability::FilesIn(dir.path()), 3u) << reliability::Listing(dir.path());
}

}  // namespace
