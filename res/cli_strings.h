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

// The text of id; "" for an id out of range.
const char* CliWords(CliText id);
