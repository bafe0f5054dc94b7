// wavtrn-cli: the converter's command-line companion. It lists the formats the
// dialog's chooser offers, describes WAVE files the way the dialog's
// source-format label does, and converts files with the dialog's own
// conversion, several at a time.
#include "app/cli_backend.h"
#include "app/cli_convert.h"
#include "app/cli_formats.h"
#include "app/dialog.h"
#include "wave/convert.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage: wavtrn-cli COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  formats                  list every format the format chooser offers\n"
    "  info FILE...             describe the format of WAVE files\n"
    "  convert --to KEY SRC... (-o DST | --out-dir DIR) [-j N]\n"
    "                           convert WAVE files into the format KEY\n"
    "\n"
    "'wavtrn-cli COMMAND --help' tells more about each command.\n";

constexpr const char* kFormatsHelp =
    "usage: wavtrn-cli formats\n"
    "\n"
    "Lists every format the format chooser offers, one line each, as four\n"
    "tab-separated columns: the key that 'convert --to' takes, the format tag's\n"
    "name, the format's name and the data rate in bytes per second.\n";

constexpr const char* kInfoHelp =
    "usage: wavtrn-cli info FILE...\n"
    "\n"
    "Prints 'FILE: description' for each file, the description being what the\n"
    "dialog's source-format label shows (tag name and format name). A file that\n"
    "cannot be opened or is not a WAVE file with a leading format chunk gets a\n"
    "message on standard error; the others are still described. Exit status 0\n"
    "when every file was described, 1 otherwise.\n";

constexpr const char* kConvertHelp =
    "usage: wavtrn-cli convert --to KEY SRC -o DST\n"
    "       wavtrn-cli convert --to KEY SRC... --out-dir DIR [-j N]\n"
    "\n"
    "Converts each source WAVE file into the format KEY (see 'wavtrn-cli formats').\n"
    "\n"
    "  --to KEY         destination format\n"
    "  -o DST           destination file (a single source only)\n"
    "  --out-dir DIR    write DIR/<source file name> for each source\n"
    "  -j N             convert N files at a time (default: the number of CPUs)\n"
    "\n"
    "A destination is replaced only when its conversion completed; a failed\n"
    "conversion leaves no file behind and an existing destination as it was.\n"
    "Each file is converted in a worker process of its own; its messages are\n"
    "printed, prefixed with the source's name, when it finishes. Exit status 0\n"
    "when every file was converted, 1 when any failed, 2 for bad arguments.\n";

int UsageError(const char* command, const std::string& text) {
    std::fprintf(stderr, "wavtrn-cli%s%s: %s\n", command != nullptr ? " " : "", command != nullptr ? command : "",
                 text.c_str());
    std::fprintf(stderr, "Try 'wavtrn-cli%s%s --help'.\n", command != nullptr ? " " : "",
                 command != nullptr ? command : "");
    return kExitUsage;
}

bool IsHelp(std::string_view arg) { return arg == "--help" || arg == "-h"; }

// ----- formats -------------------------------------------------------------

int CommandFormats(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (IsHelp(arg)) {
            std::fputs(kFormatsHelp, stdout);
            return kExitOk;
        }
        return UsageError("formats", "unexpected argument '" + arg + "'");
    }
    for (const CliFormat& format : ListFormats()) {
        std::printf("%s\t%s\t%s\t%u bytes/s\n", format.key.c_str(), format.tagName.c_str(), format.formatName.c_str(),
                    static_cast<unsigned>(format.wfx()->nAvgBytesPerSec));
    }
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

// ----- info ----------------------------------------------------------------

// Why a file cannot be read, or an empty text when it can.
std::string OpenProblem(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    struct stat st {};
    const bool isDirectory = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    ::close(fd);
    return isDirectory ? std::strerror(EISDIR) : std::string();
}

int CommandInfo(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    bool optionsDone = false;
    for (const std::string& arg : args) {
        if (!optionsDone && IsHelp(arg)) {
            std::fputs(kInfoHelp, stdout);
            return kExitOk;
        }
        if (!optionsDone && arg == "--") {
            optionsDone = true;
        } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
            return UsageError("info", "unknown option '" + arg + "'");
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) return UsageError("info", "no file named");

    CaptureBackend backend;
    SetWindowBackend(&backend);
    int status = kExitOk;
    for (const std::string& file : files) {
        // The dialog stays silent about a file it cannot open; here it is said.
        const std::string problem = OpenProblem(file);
        if (!problem.empty()) {
            std::fflush(stdout);
            std::fprintf(stderr, "%s: cannot open: %s\n", file.c_str(), problem.c_str());
            status = kExitFailed;
            continue;
        }
        backend.Reset();
        ShowSourceFormat(file.c_str(), CaptureBackend::Dialog());
        std::fflush(stdout);
        for (const std::string& message : backend.messages()) std::fprintf(stderr, "%s: %s\n", file.c_str(), message.c_str());
        if (backend.labelWritten()) {
            std::printf("%s: %s\n", file.c_str(), backend.label().c_str());
        } else {
            if (backend.messages().empty()) std::fprintf(stderr, "%s: cannot be read\n", file.c_str());
            status = kExitFailed;
        }
    }
    SetWindowBackend(nullptr);
    if (std::fflush(stdout) != 0) status = kExitFailed;
    return status;
}

// ----- convert -------------------------------------------------------------

std::string BaseName(const std::string& path) {
    std::string name = path;
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    const auto slash = name.find_last_of('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

bool ParseWorkers(const std::string& text, int& workers) {
    if (text.empty() || text.size() > 4 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    workers = std::atoi(text.c_str());
    return workers >= 1 && workers <= 1024;
}

int CommandConvert(const std::vector<std::string>& args) {
    std::string key, output, outDir, workersText;
    bool haveKey = false, haveOutput = false, haveOutDir = false, haveWorkers = false;
    std::vector<std::string> sources;
    bool optionsDone = false;

    // An option's value follows it as the next argument or after '='
    // ("--to=KEY", "-j4", "-oout.wav").
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsDone || arg == "-" || arg.empty() || arg[0] != '-') {
            sources.push_back(arg);
            continue;
        }
        if (IsHelp(arg)) {
            std::fputs(kConvertHelp, stdout);
            return kExitOk;
        }
        if (arg == "--") {
            optionsDone = true;
            continue;
        }
        struct Option {
            const char* longName;
            const char* shortName;
            std::string* value;
            bool* seen;
        };
        const Option options[] = {
            {"--to", nullptr, &key, &haveKey},
            {"--output", "-o", &output, &haveOutput},
            {"--out-dir", nullptr, &outDir, &haveOutDir},
            {"--jobs", "-j", &workersText, &haveWorkers},
        };
        const Option* matched = nullptr;
        std::string value;
        bool inlineValue = false;
        for (const Option& option : options) {
            const std::string longName = option.longName;
            if (arg == longName || (option.shortName != nullptr && arg == option.shortName)) {
                matched = &option;
            } else if (arg.rfind(longName + "=", 0) == 0) {
                matched = &option;
                value = arg.substr(longName.size() + 1);
                inlineValue = true;
            } else if (option.shortName != nullptr && arg.size() > 2 && arg.rfind(option.shortName, 0) == 0) {
                matched = &option;
                value = arg.substr(2);
                inlineValue = true;
            }
            if (matched != nullptr) break;
        }
        if (matched == nullptr) return UsageError("convert", "unknown option '" + arg + "'");
        if (!inlineValue) {
            if (i + 1 >= args.size()) return UsageError("convert", "option '" + arg + "' needs a value");
            value = args[++i];
        }
        if (*matched->seen) return UsageError("convert", std::string("option '") + matched->longName + "' given twice");
        *matched->seen = true;
        *matched->value = value;
    }

    if (!haveKey) return UsageError("convert", "no destination format: give --to KEY");
    if (sources.empty()) return UsageError("convert", "no source file named");
    if (haveOutput && haveOutDir) return UsageError("convert", "-o and --out-dir exclude each other");
    if (!haveOutput && !haveOutDir) return UsageError("convert", "no destination: give -o DST or --out-dir DIR");
    if (haveOutput && sources.size() > 1) return UsageError("convert", "-o takes a single source; use --out-dir for several");
    if (haveOutput && output.empty()) return UsageError("convert", "empty destination path");
    int workers = static_cast<int>(std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN)));
    if (haveWorkers && !ParseWorkers(workersText, workers)) {
        return UsageError("convert", "-j wants a number of workers from 1 to 1024, not '" + workersText + "'");
    }

    const std::vector<CliFormat> formats = ListFormats();
    const CliFormat* format = FindFormat(formats, key);
    if (format == nullptr) {
        return UsageError("convert", "unknown format key '" + key + "' ('wavtrn-cli formats' lists them)");
    }

    std::vector<ConvertJob> jobs;
    if (haveOutput) {
        jobs.push_back({sources.front(), output});
    } else {
        struct stat st {};
        if (::stat(outDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            return UsageError("convert", "'" + outDir + "' is not a directory");
        }
        std::set<std::string> names;
        for (const std::string& source : sources) {
            const std::string name = BaseName(source);
            if (!names.insert(name).second) {
                return UsageError("convert", "two sources are named '" + name + "'; their destinations would collide");
            }
            std::string destination = outDir;
            if (destination.back() != '/') destination += '/';
            jobs.push_back({source, destination + name});
        }
    }

    BatchOptions batch;
    batch.workers = std::min<int>(workers, static_cast<int>(jobs.size()));
    batch.progressBar = ::isatty(STDERR_FILENO) != 0;
    const int failures = RunBatch(jobs, format->wfx(), batch);
    if (failures < 0) return 130;
    return failures == 0 ? kExitOk : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + std::min(argc, 2), argv + argc);
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    const std::string command = argv[1];
    if (IsHelp(command) || command == "help") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (command == "formats") return CommandFormats(args);
    if (command == "info") return CommandInfo(args);
    if (command == "convert") return CommandConvert(args);
    return UsageError(nullptr, "unknown command '" + command + "'");
}
