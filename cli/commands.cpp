#include "cli/commands.h"

#include "cli/batch.h"
#include "cli/formats.h"
#include "cli/listing.h"
#include "cli/output.h"
#include "cli/reporter.h"
#include "cli/sources.h"
#include "platform/kernel/replace.h"
#include "res/cli_strings.h"
#include "wave/convert.h"
#include "wave/waveio.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The sources named as arguments and those of --files-from, in that order.
// Returns kExitOk, or the status of a list that could not be read.
int GatherSources(const Request& request, std::vector<std::string>& sources) {
    sources = request.files;
    std::string error;
    if (!request.filesFrom.empty() && !ReadFileList(request.filesFrom, request.nullSeparated, sources, error)) {
        std::fputs(Said<CliText::ProgramSays>(Printable(error).c_str()).c_str(), stderr);
        return kExitFailed;
    }
    return kExitOk;
}

// Why the sources cannot be taken together, or "" when they can.
std::string SourcesProblem(const Request& request, const std::vector<std::string>& sources) {
    const auto stdinSources = std::count(sources.begin(), sources.end(), "-");
    if (sources.empty()) return CliWords(CliText::NoSource);
    if (stdinSources > 1) return CliWords(CliText::StandardInputTwice);
    if (stdinSources > 0 && request.filesFrom == "-") return CliWords(CliText::StandardInputListAndSource);
    return {};
}

// Copies standard input aside when a source is "-". Returns kExitOk or the status to end with.
int SpoolIfNamed(const std::vector<std::string>& sources, const InterruptWatch& interrupts) {
    if (std::find(sources.begin(), sources.end(), "-") == sources.end()) return kExitOk;
    std::string error;
    if (SpoolStandardInput(interrupts, error)) return kExitOk;
    std::fprintf(stderr, "%s\n", error.c_str());
    return interrupts.Count() > 0 ? kExitInterrupted : kExitFailed;
}

std::string ReadPath(const std::string& source) { return source == "-" ? kSpooledInput : source; }

bool Describe(const std::string& source, const std::string& readPath, const Request& request) {
    DescriptionReporter reporter(source, request.verbose, request.json);
    std::string description;
    const SourceFormat result = DescribeSourceFormat(readPath.c_str(), reporter, description);
    if (result == SourceFormat::NotOpened) reporter.CannotOpenSource();
    if (result != SourceFormat::Described) {
        if (request.json) PrintFailure(source, reporter.reasons());
        return false;
    }
    SourceMetadata metadata;
    ReadMetadataOf(readPath.c_str(), metadata);
    PrintDescription(source, description, metadata, request.json);
    return true;
}

std::string UnknownKey(const std::vector<CliFormat>& formats, const std::string& key) {
    std::string keys;
    for (const std::string& nearest : NearestKeys(formats, key, 3)) keys += (keys.empty() ? "" : ", ") + nearest;
    const std::string nearest = keys.empty() ? "" : Said<CliText::NearestKeys>(keys.c_str());
    return Said<CliText::UnknownKey>(key.c_str(), nearest.c_str());
}

std::uint64_t SizeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
}

// The destination of each source; a usage problem is returned as its text.
std::string PlanDestinations(const Request& request, const std::vector<std::string>& sources,
                             std::vector<Job>& jobs) {
    if (request.outDir.empty()) {
        if (request.output.empty()) return CliWords(CliText::NoDestination);
        if (sources.size() > 1) return CliWords(CliText::OneSourceForOutput);
        const bool toOutput = NamesStandardOutput(request.output);
        jobs.push_back({sources.front(), sources.front(), request.output, toOutput ? "/dev/stdout" : request.output});
        return {};
    }
    struct stat st {};
    if (::stat(request.outDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return Said<CliText::NotADirectory>(request.outDir.c_str());
    }
    std::set<std::string> names;
    const std::string folder = request.outDir.back() == '/' ? request.outDir : request.outDir + "/";
    for (const std::string& source : sources) {
        if (source == "-") return CliWords(CliText::StandardInputHasNoName);
        const std::string name = BaseName(source);
        if (!names.insert(name).second) return Said<CliText::SameSourceName>(name.c_str());
        jobs.push_back({source, source, folder + name, folder + name});
    }
    return {};
}

// A source that is its destination (also through links) is converted only
// with --force.
void CheckJobs(const Request& request, std::vector<Job>& jobs) {
    for (Job& job : jobs) {
        if (!request.force && job.source != "-" && IsSameFile(job.source.c_str(), job.writePath.c_str())) {
            job.refusal = Said<CliText::SameFileWithoutForce>(PlainText(Text::SameFile));
        }
    }
}

// With -n, the jobs whose destination exists (a dangling link too) are
// reported as skipped and taken out of the batch.
void SkipExisting(std::vector<Job>& jobs, Results& results) {
    std::vector<Job> kept;
    for (Job& job : jobs) {
        struct stat st {};
        if (NamesStandardOutput(job.destination) || ::lstat(job.destination.c_str(), &st) != 0) {
            kept.push_back(std::move(job));
            continue;
        }
        FileResult skipped;
        skipped.source = job.source;
        skipped.destination = job.destination;
        skipped.outcome = Outcome::Skipped;
        results.Report(skipped);
    }
    jobs = std::move(kept);
}

// Each job's length in seconds of sound (for the progress bar's speed) and,
// for a key with fields left out, the offered format nearest its source,
// which is said on standard error unless quiet.
void FitJobs(const Request& request, const std::vector<CliFormat>& formats, bool partialKey, std::vector<Job>& jobs) {
    for (Job& job : jobs) {
        FormatBlock pwfxSrc;
        // A source read only for its format is described, or refused, by its
        // conversion later.
        const bool read = ReadSourceFormatOf(job.readPath.c_str(), pwfxSrc);
        if (read && pwfxSrc.get()->nAvgBytesPerSec > 0)
            job.seconds = static_cast<double>(job.weight) / pwfxSrc.get()->nAvgBytesPerSec;
        if (!partialKey) continue;
        const CliFormat* chosen = NearestToSource(formats, request.key, read ? pwfxSrc.get() : nullptr);
        job.pwfxDst = chosen->wfx();
        if (!request.quiet)
            std::fputs(Said<CliText::KeyTakenAs>(job.source.c_str(), request.key.c_str(),
                         chosen->key.c_str()).c_str(), stderr);
    }
}

// Removes the stale temporary files beside each destination, once a folder,
// before the workers start: they inherit the knowledge and read no folder again.
void SweepDestinationFolders(const std::vector<Job>& jobs) {
    for (const Job& job : jobs) {
        if (job.refusal.empty()) SweepStaleTemporaryFiles(job.writePath.c_str());
    }
}

int Workers(const Request& request, std::size_t jobs) {
    const long cpus = request.jobs > 0 ? request.jobs : std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
    return static_cast<int>(std::min<long>(cpus, static_cast<long>(std::max<std::size_t>(jobs, 1))));
}

}  // namespace

int UsageError(const std::string& command, const std::string& text) {
    const std::string name = command.empty() ? "wavtrn-cli" : "wavtrn-cli " + command;
    std::fputs(Said<CliText::UsageLine>(name.c_str(), Printable(text).c_str(), name.c_str()).c_str(), stderr);
    return kExitUsage;
}

int RunFormats(const Request& request) {
    const std::vector<CliFormat> all = ListFormats();
    const std::vector<CliFormat> shown = request.word.empty() ? all : FilterFormats(all, request.word);
    if (shown.empty()) {
        std::fputs(Said<CliText::NoFormatMatches>(request.word.c_str()).c_str(), stderr);
        return kExitFailed;
    }
    for (const CliFormat& format : shown) {
        PrintLine(Said<CliText::FormatLine>(format.key.c_str(), format.tagName.c_str(),
                            format.formatName.c_str(), static_cast<unsigned>(format.wfx()->nAvgBytesPerSec)));
    }
    return OutputFailed() ? kExitFailed : kExitOk;
}

int RunInfo(const Request& request) {
    std::vector<std::string> sources;
    if (const int status = GatherSources(request, sources); status != kExitOk) return status;
    if (const std::string problem = SourcesProblem(request, sources); !problem.empty()) return UsageError("info", problem);
    InterruptWatch interrupts;
    if (const int status = SpoolIfNamed(sources, interrupts); status != kExitOk) return status;
    int status = kExitOk;
    for (const std::string& source : sources) {
        if (interrupts.Count() > 0) return kExitInterrupted;
        if (!Describe(source, ReadPath(source), request)) status = kExitFailed;
    }
    return OutputFailed() ? kExitFailed : status;
}

int RunConvert(const Request& request) {
    const std::vector<CliFormat> formats = ListFormats();
    const CliFormat* format = FindFormat(formats, request.key);
    // A key with fields left out is settled for each source on its own.
    const bool partialKey = format == nullptr && NearestToSource(formats, request.key, nullptr) != nullptr;
    if (partialKey) format = NearestToSource(formats, request.key, nullptr);
    if (format == nullptr) return UsageError("convert", UnknownKey(formats, request.key));
    std::vector<std::string> sources;
    if (const int status = GatherSources(request, sources); status != kExitOk) return status;
    std::vector<Job> jobs;
    std::string problem = SourcesProblem(request, sources);
    if (problem.empty()) problem = PlanDestinations(request, sources, jobs);
    if (!problem.empty()) return UsageError("convert", problem);

    // Standard output carries the WAVE file: every word goes to standard error.
    if (NamesStandardOutput(request.output)) SendTextToStandardError();
    InterruptWatch interrupts;
    if (const int status = SpoolIfNamed(sources, interrupts); status != kExitOk) return status;
    for (Job& job : jobs) {
        job.readPath = ReadPath(job.source);
        job.weight = std::max<std::uint64_t>(1, SizeOf(job.readPath));
    }
    CheckJobs(request, jobs);
    SweepDestinationFolders(jobs);
    Results results(request.json, request.verbose, request.quiet);
    if (request.noClobber) SkipExisting(jobs, results);
    FitJobs(request, formats, partialKey, jobs);
    const BatchOptions options{format->wfx(), Workers(request, jobs.size()),
                               !request.quiet && ::isatty(STDERR_FILENO) != 0, request.verbose,
                               request.noMetadata ? CONVERTF_NOMETADATA : 0};
    const bool completed = RunBatch(jobs, options, interrupts, results);
    results.Summary();
    if (!completed) return kExitInterrupted;
    return results.AllConverted() && !OutputFailed() ? kExitOk : kExitFailed;
}
