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

void AddSources(CLI::App& command, Request& request, const char* name) {
    command.add_option(name, request.files, CliWords(CliText::HelpSources));
    command.add_option("--files-from", request.filesFrom, CliWords(CliText::HelpFilesFrom))
        ->type_name("LIST");
    command.add_flag("-0,--null", request.nullSeparated, CliWords(CliText::HelpNull));
    command.add_flag("-v,--verbose", request.verbose, CliWords(CliText::HelpVerbose));
}

void AddConvert(CLI::App& app, Request& request) {
    CLI::App* convert = app.add_subcommand("convert", CliWords(CliText::HelpConvert));
    convert->add_option("--to", request.key, CliWords(CliText::HelpTo))
        ->type_name("KEY")
        ->required();
    AddSources(*convert, request, "SRC");
    CLI::Option* output =
        convert->add_option("-o,--output", request.output, CliWords(CliText::HelpOutput))
            ->type_name("DST");
    convert->add_option("--out-dir", request.outDir, CliWords(CliText::HelpOutDir))
        ->type_name("DIR")
        ->excludes(output);
    convert->add_option("-j,--jobs", request.jobs, CliWords(CliText::HelpJobs))
        ->type_name("N")
        ->check(CLI::Range(1, 1024));
    convert->add_flag("--force", request.force, CliWords(CliText::HelpForce));
    convert->add_flag("--json", request.json, CliWords(CliText::HelpJson));
    convert->add_flag("--no-metadata", request.noMetadata, CliWords(CliText::HelpNoMetadata));
    convert->add_flag("-q,--quiet", request.quiet, CliWords(CliText::HelpQuiet));
    convert->add_flag("-n,--no-clobber", request.noClobber, CliWords(CliText::HelpNoClobber));
    convert->footer(CliWords(CliText::HelpConvertFooter));
}

// Builds the parser; the subcommand chosen is named in the returned app's
// selection after parsing.
void Configure(CLI::App& app, Request& request) {
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("wavtrn-cli ") + WAVTRN_VERSION, CliWords(CliText::HelpVersion));
    CLI::App* formats = app.add_subcommand("formats", CliWords(CliText::HelpFormats));
    formats->add_option("WORD", request.word, CliWords(CliText::HelpWord));
    formats->footer(CliWords(CliText::HelpFormatsFooter));
    CLI::App* info = app.add_subcommand("info", CliWords(CliText::HelpInfo));
    AddSources(*info, request, "FILE");
    info->add_flag("--json", request.json, CliWords(CliText::HelpJson));
    info->footer(CliWords(CliText::HelpInfoFooter));
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
    return UsageError("", Said<CliText::UnknownCommand>(word.c_str(), nearest.c_str()));
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
    CLI::App app(CliWords(CliText::HelpProgram), "wavtrn-cli");
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
