// wavtrn-cli: the converter's command-line companion. It lists the formats the
// dialog's chooser offers, describes WAVE files as the dialog's source-format
// label does, and converts files with the dialog's own conversion, several at
// a time, saying what went wrong in plain words.
#include "cli/commands.h"
#include "cli/formats.h"
#include "cli/reporter.h"
#include "platform/acm/acm.h"
#include "platform/kernel/signals.h"
#include "res/cli_strings.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>

namespace {

constexpr const char* kFormatsFooter =
    "Prints one line per format, as four tab-separated columns: the key that\n"
    "'convert --to' takes, the format tag's name, the format's name and the data\n"
    "rate. WORD keeps the formats whose key, tag name or format name holds it,\n"
    "letter case aside; exit status 1 when none does.";

constexpr const char* kInfoFooter =
    "Prints 'FILE: description' for each file (what the dialog's source-format\n"
    "label shows), and 'FILE: reason' on standard error for a file that cannot be\n"
    "described; the others are still described. Below the description, a line\n"
    "for each metadata chunk the file carries (its identifier and size) and the\n"
    "fields of INFO lists and bext chunks in words. --json prints one object a\n"
    "file instead. '-' reads standard input. Exit status 0 when every file was\n"
    "described, 1 otherwise.";

constexpr const char* kConvertFooter =
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
    "when any failed, 2 for bad arguments, 130 when interrupted.";

void AddSources(CLI::App& command, Request& request, const char* name) {
    command.add_option(name, request.files, "files ('-': standard input)");
    command.add_option("--files-from", request.filesFrom, "read further files from LIST, one a line ('-': standard input)")
        ->type_name("LIST");
    command.add_flag("-0,--null", request.nullSeparated, "names in LIST end with a NUL byte, not a line feed (find -print0)");
    command.add_flag("-v,--verbose", request.verbose, "also show the condition that failed");
}

void AddConvert(CLI::App& app, Request& request) {
    CLI::App* convert = app.add_subcommand("convert", "convert WAVE files into another format");
    convert->add_option("--to", request.key, "destination format (see 'wavtrn-cli formats')")
        ->type_name("KEY")
        ->required();
    AddSources(*convert, request, "SRC");
    CLI::Option* output =
        convert->add_option("-o,--output", request.output, "destination file (a single source; '-': standard output)")
            ->type_name("DST");
    convert->add_option("--out-dir", request.outDir, "write DIR/<source name> for each source")
        ->type_name("DIR")
        ->excludes(output);
    convert->add_option("-j,--jobs", request.jobs, "convert N files at a time (default: the number of CPUs)")
        ->type_name("N")
        ->check(CLI::Range(1, 1024));
    convert->add_flag("--force", request.force, "convert also when a source is its own destination");
    convert->add_flag("--json", request.json, "print one JSON object a file on standard output");
    convert->add_flag("--no-metadata", request.noMetadata, "write only the audio, without the sources' metadata chunks");
    convert->add_flag("-q,--quiet", request.quiet, "print only failures and warnings: no progress, no summary");
    convert->add_flag("-n,--no-clobber", request.noClobber, "skip a source whose destination exists");
    convert->footer(kConvertFooter);
}

// Builds the parser; the subcommand chosen is named in the returned app's
// selection after parsing.
void Configure(CLI::App& app, Request& request) {
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("wavtrn-cli ") + WAVTRN_VERSION, "print the version and exit");
    CLI::App* formats = app.add_subcommand("formats", "list the formats the format chooser offers");
    formats->add_option("WORD", request.word, "show only the formats that hold WORD");
    formats->footer(kFormatsFooter);
    CLI::App* info = app.add_subcommand("info", "describe the format of WAVE files");
    AddSources(*info, request, "FILE");
    info->add_flag("--json", request.json, "print one JSON object a file on standard output");
    info->footer(kInfoFooter);
    AddConvert(app, request);
}

// A first argument that names no command is answered with the nearest one
// ("conver": did you mean 'convert'?), not with "a subcommand is required".
int UnknownCommand(const CLI::App& app, int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '-') return kExitOk;
    const std::string word = argv[1];
    std::string nearest;
    std::size_t distance = 0;
    for (const CLI::App* command : app.get_subcommands({})) {
        const std::size_t d = EditDistance(word, command->get_name());
        if (d == 0) return kExitOk;
        if (nearest.empty() || d < distance) {
            nearest = command->get_name();
            distance = d;
        }
    }
    return UsageError("", Formatted(CliWords(CliText::UnknownCommand), word.c_str(), nearest.c_str()));
}

// Whether the user's language for messages is Japanese: the first of
// LC_ALL, LC_MESSAGES and LANG that is set and not empty starts with "ja".
bool JapaneseLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return std::strncmp(value, "ja", 2) == 0;
    }
    return false;
}

int Run(int argc, char** argv) {
    // Format names in Japanese, as the dialog shows them, only for a Japanese
    // user; the rest of the command line speaks English anyway.
    acm::SetNameWords(JapaneseLocale() ? acm::Words::Japanese : acm::Words::English);
    Request request;
    CLI::App app("wavtrn-cli converts RIFF WAVE files between audio formats.", "wavtrn-cli");
    Configure(app, request);
    if (const int status = UnknownCommand(app, argc, argv); status != kExitOk) return status;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help() << std::flush;
        return kExitOk;
    } catch (const CLI::CallForVersion& e) {
        std::cout << e.what() << '\n' << std::flush;
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        const std::vector<CLI::App*> chosen = app.get_subcommands();
        return UsageError(chosen.empty() ? "" : chosen.front()->get_name(), e.what());
    }
    const std::string command = app.get_subcommands().front()->get_name();
    if (command == "formats") return RunFormats(request);
    if (command == "info") return RunInfo(request);
    return RunConvert(request);
}

}  // namespace

int main(int argc, char** argv) {
    // Whoever started the program may have left SIGCHLD ignored (a failed
    // worker would then read as converted) or the interrupts blocked.
    ResetInheritedSignals({SIGINT, SIGTERM, SIGHUP});
    // A reader that goes away (wavtrn-cli ... | head) must not end the program
    // mid-batch: writes to it fail with EPIPE instead, and that is reported.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs(CliWords(CliText::OutOfMemory), stderr);
        return kExitFailed;
    }
}
