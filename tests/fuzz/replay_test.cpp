// The fuzz targets' entry points on every kept failing input and on the valid
// corpus: under the sanitizer build a fault here fails the run.
#include "fuzz_support.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace {

namespace fs = std::filesystem;
using Entry = std::function<int(const std::uint8_t*, std::size_t)>;

struct Target {
    const char* name;
    Entry entry;
};

const Target kTargets[] = {
    {"riff", fuzzing::FuzzRiff},
    {"convert", fuzzing::FuzzConvert},
    {"codec", fuzzing::FuzzCodec},
};

int ReplayFolder(const fs::path& dir, const Entry& entry) {
    int count = 0;
    for (const auto& file : fs::directory_iterator(dir)) {
        if (!file.is_regular_file() || file.path().filename().string().front() == '.') continue;
        const auto bytes = testsupport::ReadBytes(file.path().string());
        SCOPED_TRACE(file.path().string());
        EXPECT_EQ(entry(bytes.data(), bytes.size()), 0);
        ++count;
    }
    return count;
}

TEST(FuzzReplay, KeptFailingInputs) {
    // A folder that went missing or lost its inputs would make this test pass on nothing.
    int replayed = 0;
    for (const Target& target : kTargets) {
        const fs::path dir = fs::path(WAVTRN_REGRESSIONS_DIR) / target.name;
        ASSERT_TRUE(fs::is_directory(dir)) << dir;
        replayed += ReplayFolder(dir, target.entry);
    }
    EXPECT_GT(replayed, 0) << WAVTRN_REGRESSIONS_DIR << " holds no inputs";
}

TEST(FuzzReplay, ValidCorpusOfEveryCatalogueFormat) {
    for (const Target& target : kTargets) {
        testsupport::TempDir dir;
        ASSERT_EQ(testsupport::RunCommand(testsupport::ShellQuote(WAVTRN_CORPUS_TOOL) + " " + target.name + " " +
                                          testsupport::ShellQuote(dir.path().string()) + " >/dev/null"),
                  0);
        EXPECT_GT(ReplayFolder(dir.path(), target.entry), 20) << target.name;
    }
}

}  // namespace
