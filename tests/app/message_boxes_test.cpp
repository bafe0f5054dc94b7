// Message reporting: system-error texts by code, failed checks, and the
// required-condition macro's early return.
#include "app/message_boxes.h"
#include "platform/kernel/lasterror.h"
#include "support/scripted.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

class ReportTest : public ::testing::Test {
protected:
    void SetUp() override { SetWindowBackend(&backend); }
    void TearDown() override { SetWindowBackend(nullptr); }
    ScriptedBackend backend;
};

TEST_F(ReportTest, LastErrorTextsByCode) {
    struct Case {
        DWORD code;
        const char* expected;
    } cases[] = {
        {2, "box icon=none caption=\"WAVTRN\" text=\"copyfile: file not found\""},
        {3, "box icon=none caption=\"WAVTRN\" text=\"copyfile: path not found\""},
        {32, "box icon=none caption=\"WAVTRN\" text=\"copyfile: shareing violation\""},
        {5, "box icon=none caption=\"WAVTRN\" text=\"copyfile: error=5\""},
        {112, "box icon=none caption=\"WAVTRN\" text=\"copyfile: error=112\""},
        {static_cast<DWORD>(-5), "box icon=none caption=\"WAVTRN\" text=\"copyfile: error=-5\""},
    };
    for (const Case& c : cases) {
        SetLastError(c.code);
        EXPECT_EQ(ReportLastError("copyfile"), static_cast<LONG>(c.code));
        ASSERT_FALSE(backend.Transcript().empty());
        EXPECT_EQ(backend.Transcript().back(), c.expected);
    }
    EXPECT_EQ(backend.Transcript().size(), std::size(cases));
}

TEST_F(ReportTest, ErrnoMapping) {
    EXPECT_EQ(ErrorFromErrno(ENOENT, "/definitely/missing/dir/file.wav"), 3u);
    EXPECT_EQ(ErrorFromErrno(ENOENT, "/tmp/wavtrn-no-such-file.wav"), 2u);
    EXPECT_EQ(ErrorFromErrno(EACCES), 5u);
    EXPECT_EQ(ErrorFromErrno(ENOSPC), 112u);
    EXPECT_EQ(ErrorFromErrno(EEXIST), 80u);
}

int GuardedProcedure(bool condition, int* reached) {
    DialogReporter reporter(nullptr);
    REQUIRE(reporter, NotRiffWave, condition, -1);
    *reached = 1;
    return 0;
}

TEST_F(ReportTest, FailedCheckShowsStopBoxAndReturns) {
    int reached = 0;
    EXPECT_EQ(GuardedProcedure(true, &reached), 0);
    EXPECT_EQ(reached, 1);
    EXPECT_TRUE(backend.Transcript().empty());

    reached = 0;
    EXPECT_EQ(GuardedProcedure(false, &reached), -1);
    EXPECT_EQ(reached, 0);
    ASSERT_EQ(backend.Transcript().size(), 1u);
    const std::string& box = backend.Transcript()[0];
    EXPECT_EQ(box.rfind(std::string("box icon=stop caption=\"") + program_invocation_short_name + "\"", 0), 0u) << box;
    EXPECT_NE(box.find("text=\"Assertion failed: condition, file message_boxes_test.cpp, line "), std::string::npos) << box;
}

}  // namespace
