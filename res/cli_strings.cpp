#include "res/cli_strings.h"

#include "res/printf_check.h"

#include <iterator>

namespace {

struct Row {
    CliText id;
    const char* text;
    const char* takes = "";  // the printf conversions the text holds, in order
};

constexpr Row kRows[] = {
    {CliText::NoSource, "no source file named"},
    {CliText::StandardInputTwice, "'-' (standard input) named more than once"},
    {CliText::StandardInputListAndSource, "standard input cannot hold both the list and a source"},
    {CliText::UnknownKey, "unknown format key '%s'%s ('wavtrn-cli formats' lists them all)", "s s"},
    {CliText::NearestKeys, "; nearest: %s", "s"},
    {CliText::NoDestination, "no destination: give -o DST or --out-dir DIR"},
    {CliText::OneSourceForOutput, "-o takes a single source; use --out-dir for several"},
    {CliText::NotADirectory, "'%s' is not a directory", "s"},
    {CliText::StandardInputHasNoName, "'-' (standard input) has no name to write under --out-dir; use -o"},
    {CliText::SameSourceName, "two sources are named '%s'; their destinations would collide", "s"},
    {CliText::UnknownCommand, "unknown command '%s'; did you mean '%s'?", "s s"},
    {CliText::UsageLine, "%s: %s\nTry '%s --help'.\n", "s s s"},
    {CliText::SameFileWithoutForce, "%s (--force converts it in place)", "s"},
    {CliText::KeyTakenAs, "%s: --to %s taken as %s\n", "s s s"},
    {CliText::ConvertedLine, "%s -> %s", "s s"},
    {CliText::SkippedLine, "%s: skipped, '%s' exists", "s s"},
    {CliText::NotWavName, "wavtrn-cli: warning: '%s' is written as a WAVE file; its name does not end in .wav\n", "s"},
    {CliText::NotStarted, "not started"},
    {CliText::Interrupted, "interrupted"},
    {CliText::ConversionFailed, "conversion failed"},
    {CliText::EndedBySignal, "conversion ended by signal %s", "s"},
    {CliText::EndUnknown, "cannot learn how the conversion ended: %s", "s"},
    {CliText::CannotStartWorker, "cannot start a worker: %s", "s"},
    {CliText::ErrorCode, "error %lu", "lu"},
    {CliText::Warning, "warning: %s", "s"},
    {CliText::ProgramSays, "wavtrn-cli: %s\n", "s"},
    {CliText::FewerWorkers, "wavtrn-cli: %s; converting %zu at a time\n", "s zu"},
    {CliText::OutOfMemory, "wavtrn-cli: out of memory\n"},
    {CliText::StandardOutputFailed, "wavtrn-cli: standard output: %s\n", "s"},
    {CliText::NoFormatMatches, "wavtrn-cli formats: no format matches '%s'\n", "s"},
    {CliText::CannotReadList, "cannot read '%s': %s", "s s"},
    {CliText::ListLineFault, "'%s', line %zu: %s", "s zu s"},
    {CliText::ListNameFault, "'%s', name %zu: %s", "s zu s"},
    {CliText::EmptyName, "an empty name"},
    {CliText::NulInName, "a NUL byte in a name (NUL-separated names need -0)"},
    {CliText::NameTooLong, "longer than the longest path (%d bytes)", "d"},
    {CliText::CannotCreateIn, "wavtrn-cli: cannot create a file in '%s': %s", "s s"},
    {CliText::CannotCreate, "wavtrn-cli: cannot create '%s': %s", "s s"},
    {CliText::SpoolInterrupted, "wavtrn-cli: interrupted"},
    {CliText::CannotSpool, "wavtrn-cli: cannot spool standard input: %s", "s"},
    {CliText::FormatLine, "%s\t%s\t%s\t%u bytes/s", "s s s u"},
    {CliText::ChunkLine, "  %s, %llu bytes", "s llu"},
    {CliText::SummaryConverted, "%zu converted, ", "zu"},
    {CliText::SummarySkipped, "%zu skipped, ", "zu"},
    {CliText::SummaryFailed, "%zu failed", "zu"},
    {CliText::SummaryNotStarted, ", %zu not started", "zu"},
    {CliText::ProgressLine, "\r[%s] %3d%%  %zu/%zu files%s\033[K", "s d zu zu s"},
    {CliText::ProgressSpeed, "  %.1fx", "f"},
    {CliText::ProgressLeft, "  %s left", "s"},
};

constexpr int kCount = static_cast<int>(CliText::Count);
static_assert(std::size(kRows) == kCount, "every text id has its row");

constexpr bool RowsInIdOrderTakingWhatTheyDeclare() {
    for (int i = 0; i < kCount; ++i) {
        if (static_cast<int>(kRows[i].id) != i) return false;
        if (!textcheck::ConversionsMatch(kRows[i].text, kRows[i].takes)) return false;
    }
    return true;
}
static_assert(RowsInIdOrderTakingWhatTheyDeclare(),
              "rows stand in the order of their ids, each text's printf conversions those its row declares");

}  // namespace

const char* CliWords(CliText id) {
    const int index = static_cast<int>(id);
    return index >= 0 && index < kCount ? kRows[index].text : "";
}
