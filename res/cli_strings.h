// The command line's own words: its usage problems, the lines it prints
// about a batch and its files, its summary and progress, and the --help texts
// of both programs (wavtrn's too: a terminal text in English with no words in
// the dialog, so it stands here rather than beside the dialog's texts). A text
// that is a printf format says what it takes beside its id; the table's build
// checks it. The help texts are printed as they stand, not as formats, and
// take nothing: a lone '%' put in one fails that check.
// (What a conversion or a check says is in res/strings.h, shared with the dialog.)
#pragma once

enum class CliText {
    // Usage problems (said with "Try '... --help'")
    NoSource,
    StandardInputTwice,
    StandardInputListAndSource,
    UnknownKey,            // %s: the key, %s: the nearest keys (NearestKeys) or ""
    NearestKeys,           // %s: keys separated by ", "
    NoDestination,
    OneSourceForOutput,
    NotADirectory,         // %s: the path
    StandardInputHasNoName,
    SameSourceName,        // %s: the name
    UnknownCommand,        // %s: the word, %s: the nearest command
    UsageLine,             // %s: program and command, %s: the problem, %s: program and command
    // A file's lines
    SameFileWithoutForce,  // %s: why the source is not converted
    KeyTakenAs,            // %s: the source, %s: the key, %s: the key taken
    ConvertedLine,         // %s: the source, %s: the destination
    SkippedLine,           // %s: the source, %s: the destination
    NotWavName,            // %s: the destination
    NotStarted,
    Interrupted,
    ConversionFailed,
    EndedBySignal,         // %s: the signal's name
    EndUnknown,            // %s: the system's reason
    CannotStartWorker,     // %s: the system's reason
    ErrorCode,             // %lu: the last error's code
    Warning,               // %s: the warning
    // The program's own troubles
    ProgramSays,           // %s: what
    FewerWorkers,          // %s: the system's reason, %zu: workers
    OutOfMemory,
    StandardOutputFailed,  // %s: the system's reason
    NoFormatMatches,       // %s: the word
    CannotReadList,        // %s: the list, %s: the system's reason
    ListLineFault,         // %s: the list, %zu: the line, %s: what is wrong
    ListNameFault,         // %s: the list, %zu: the name's number, %s: what is wrong
    EmptyName,
    NulInName,
    NameTooLong,           // %d: the longest path in bytes
    CannotCreateIn,        // %s: the folder, %s: the system's reason
    CannotCreate,          // %s: the file, %s: the system's reason
    SpoolInterrupted,
    CannotSpool,           // %s: the system's reason
    // Listings, summary and progress
    FormatLine,            // %s key, %s tag name, %s format name, %u bytes a second
    ChunkLine,             // %s: the chunk's name, %llu: its size
    SummaryConverted,      // %zu
    SummarySkipped,        // %zu
    SummaryFailed,         // %zu
    SummaryNotStarted,     // %zu
    ProgressLine,          // %s bar, %d percent, %zu done, %zu files, %s times
    ProgressSpeed,         // %.1f: seconds of sound a second
    ProgressLeft,          // %s: the time left
    // wavtrn-cli --help: the program, its options and its commands'
    HelpProgram,
    HelpVersion,
    HelpFormats,
    HelpWord,
    HelpFormatsFooter,
    HelpInfo,
    HelpInfoFooter,
    HelpSources,           // the files of info and convert
    HelpFilesFrom,
    HelpNull,
    HelpVerbose,
    HelpJson,              // info's and convert's --json
    HelpConvert,
    HelpTo,
    HelpOutput,
    HelpOutDir,
    HelpJobs,
    HelpForce,
    HelpNoMetadata,
    HelpQuiet,
    HelpNoClobber,
    HelpConvertFooter,
    // wavtrn --help
    DialogUsage,
    Count
};

// The table itself, in the header so that a caller's arguments can be checked
// against what its text takes when the caller compiles (CliTakes).
namespace cli_texts {

struct Row {
    CliText id;
    const char* text;
    const char* takes = "";  // the printf conversions the text holds, in order
};

inline constexpr Row kRows[] = {
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
    {CliText::HelpProgram, "wavtrn-cli converts RIFF WAVE files between audio formats."},
    {CliText::HelpVersion, "print the version and exit"},
    {CliText::HelpFormats, "list the formats the format chooser offers"},
    {CliText::HelpWord, "show only the formats that hold WORD"},
    {CliText::HelpFormatsFooter,
     "Prints one line per format, as four tab-separated columns: the key that\n"
     "'convert --to' takes, the format tag's name, the format's name and the data\n"
     "rate. WORD keeps the formats whose key, tag name or format name holds it,\n"
     "letter case aside; exit status 1 when none does."},
    {CliText::HelpInfo, "describe the format of WAVE files"},
    {CliText::HelpInfoFooter,
     "Prints 'FILE: description' for each file (what the dialog's source-format\n"
     "label shows), and 'FILE: reason' on standard error for a file that cannot be\n"
     "described; the others are still described. Below the description, a line\n"
     "for each metadata chunk the file carries (its identifier and size) and the\n"
     "fields of INFO lists and bext chunks in words. --json prints one object a\n"
     "file instead. '-' reads standard input. Exit status 0 when every file was\n"
     "described, 1 otherwise."},
    {CliText::HelpSources, "files ('-': standard input)"},
    {CliText::HelpFilesFrom, "read further files from LIST, one a line ('-': standard input)"},
    {CliText::HelpNull, "names in LIST end with a NUL byte, not a line feed (find -print0)"},
    {CliText::HelpVerbose, "also show the condition that failed"},
    {CliText::HelpJson, "print one JSON object a file on standard output"},
    {CliText::HelpConvert, "convert WAVE files into another format"},
    {CliText::HelpTo, "destination format (see 'wavtrn-cli formats')"},
    {CliText::HelpOutput, "destination file (a single source; '-': standard output)"},
    {CliText::HelpOutDir, "write DIR/<source name> for each source"},
    {CliText::HelpJobs, "convert N files at a time (default: the number of CPUs)"},
    {CliText::HelpForce, "convert also when a source is its own destination"},
    {CliText::HelpNoMetadata, "write only the audio, without the sources' metadata chunks"},
    {CliText::HelpQuiet, "print only failures and warnings: no progress, no summary"},
    {CliText::HelpNoClobber, "skip a source whose destination exists"},
    {CliText::HelpConvertFooter,
     "Each file is converted in a worker process of its own; a destination is\n"
     "replaced only when its conversion completed, so a failed one leaves no file\n"
     "and an existing destination as it was. Each success prints 'SRC -> DST',\n"
     "each failure 'SRC: reason' on standard error, and the run ends with a\n"
     "summary; --json prints one object a file instead. Metadata chunks (LIST,\n"
     "bext, iXML, cue, smpl, id3, ...) are carried over after the audio, their\n"
     "sample positions at the new rate; --no-metadata leaves them out. '-' as\n"
     "a source reads standard input (with -o); '-o -' writes standard output,\n"
     "and the words go to standard error. Ctrl-C stops the workers and removes\n"
     "their unfinished files. Exit status 0 when every file was converted, 1\n"
     "when any failed, 2 for bad arguments, 130 when interrupted."},
    {CliText::DialogUsage,
     "Usage: wavtrn [FILE...]\n"
     "Opens the WAVTRN dialog, which converts a RIFF WAVE file into another audio\n"
     "format; one FILE starts in the source field, described. Several files are\n"
     "converted into a folder the dialog asks for. Its texts are Japanese.\n"
     "\n"
     "  --help     print this text and exit\n"
     "  --version  print the version and exit\n"
     "\n"
     "wavtrn-cli converts from the command line; see wavtrn(1) and wavtrn-cli(1).\n"},
};

}  // namespace cli_texts

// The text of id; "" for an id out of range.
const char* CliWords(CliText id);

// The printf conversions the text of id takes, in order ("s zu", "" for none).
constexpr const char* CliTakes(CliText id) {
    const int index = static_cast<int>(id);
    return index >= 0 && index < static_cast<int>(CliText::Count) ? cli_texts::kRows[index].takes : "";
}
