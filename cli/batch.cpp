#include "cli/batch.h"

#include "cli/protocol.h"
#include "cli/reporter.h"
#include "cli/worker.h"
#include "res/cli_strings.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <list>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Worker {
    std::size_t job = 0;
    StartedWorker process;
    LineSplitter lines;
    std::string writingPath;  // its temporary file, once it has told
    std::uint64_t done = 0;
    std::uint64_t total = 0;
    std::vector<std::string> messages;
    std::vector<std::string> details;
    Clock::time_point started;
    bool ended = false;  // its pipe has reached its end: the worker is exiting
};

// Removes what a worker left unfinished, if it is still there and is a file
// (never a device or a pipe written in place).
void RemoveUnfinished(const std::string& path) {
    struct stat st {};
    if (!path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
}

std::string SignalName(int signal) {
    const char* name = ::sigabbrev_np(signal);
    return name != nullptr ? std::string("SIG") + name : std::to_string(signal);
}

class Batch {
public:
    Batch(const std::vector<Job>& jobs, const BatchOptions& options, const InterruptWatch& interrupts,
          Results& results);
    bool Run();

private:
    void StartWorkers();
    bool StartOne(std::size_t job);
    void WaitForEvents();
    void ReadFrom(Worker& worker);
    void Handle(Worker& worker, const WorkerLine& line);
    void ReapEnded();
    FileResult Finish(const Worker& worker, int status, int waitError) const;
    void StopWorkers();
    void Report(std::size_t job, const FileResult& result);
    FileResult ResultOf(std::size_t job, Outcome outcome, std::vector<std::string> messages) const;
    void DrawProgress();

    const std::vector<Job>& jobs_;
    BatchOptions options_;
    const InterruptWatch& interrupts_;
    Results& results_;
    ProgressBar bar_;
    std::list<Worker> running_;
    std::size_t next_ = 0;
    std::size_t finished_ = 0;
    std::size_t cap_;
    int stopSignal_ = 0;  // what the workers were last sent: 0, SIGTERM or SIGKILL
    double finishedWeight_ = 0;
    double totalWeight_ = 0;
    double totalSeconds_ = 0;  // of sound, in all the sources
    Clock::time_point started_ = Clock::now();
};

Batch::Batch(const std::vector<Job>& jobs, const BatchOptions& options, const InterruptWatch& interrupts,
             Results& results)
    : jobs_(jobs), options_(options), interrupts_(interrupts), results_(results), bar_(options.progressBar),
      cap_(static_cast<std::size_t>(std::max(1, options.workers))) {
    for (const Job& job : jobs) {
        totalWeight_ += static_cast<double>(job.weight);
        totalSeconds_ += job.seconds;
    }
}

bool Batch::Run() {
    while (next_ < jobs_.size() || !running_.empty()) {
        if (interrupts_.Count() > 0) StopWorkers();
        if (stopSignal_ == 0) StartWorkers();
        if (running_.empty()) {
            if (stopSignal_ != 0) break;
            continue;
        }
        WaitForEvents();
        ReapEnded();
        DrawProgress();
    }
    bar_.Clear();
    if (interrupts_.Count() == 0) return true;
    for (; next_ < jobs_.size(); ++next_) results_.NotStarted(ResultOf(next_, Outcome::Interrupted, {CliWords(CliText::NotStarted)}));
    return false;
}

void Batch::StartWorkers() {
    while (next_ < jobs_.size() && running_.size() < cap_) {
        if (!StartOne(next_)) return;
        ++next_;
    }
}

// Starts the job's worker, or reports the job when it cannot run. Returns
// false when the system has no room for another worker while others run: the
// job waits for one of them to end, and the batch keeps to fewer workers.
bool Batch::StartOne(std::size_t job) {
    if (!jobs_[job].refusal.empty()) {
        Report(job, ResultOf(job, Outcome::Failed, {jobs_[job].refusal}));
        return true;
    }
    const Job& j = jobs_[job];
    WorkerTask task{j.source, j.readPath, j.writePath, j.pwfxDst != nullptr ? j.pwfxDst : options_.pwfxDst,
                    options_.verbose};
    task.fdwConvert = options_.fdwConvert;
    task.readsStandardInput = j.source == "-";
    task.writesStandardOutput = j.writePath == "/dev/stdout";
    Worker worker;
    if (!StartWorker(task, worker.process)) {
        const int error = errno;
        const bool lacking = error == EMFILE || error == ENFILE || error == EAGAIN || error == ENOMEM;
        if (lacking && !running_.empty()) {
            cap_ = running_.size();
            bar_.Clear();
            std::fputs(Said<CliText::FewerWorkers>(std::strerror(error), cap_).c_str(), stderr);
            return false;
        }
        Report(job, ResultOf(job, Outcome::Failed, {Said<CliText::CannotStartWorker>(std::strerror(error))}));
        return true;
    }
    worker.job = job;
    worker.started = Clock::now();
    running_.push_back(std::move(worker));
    return true;
}

void Batch::WaitForEvents() {
    std::vector<pollfd> fds{{interrupts_.WakeFd(), POLLIN, 0}};
    for (const Worker& worker : running_) fds.push_back({worker.process.fd.get(), POLLIN, 0});
    // The time limit only matters when the wake pipe could not be had.
    if (::poll(fds.data(), fds.size(), 500) < 0) return;  // EINTR: an interrupt, seen by the caller
    interrupts_.Drain();
    std::size_t i = 1;
    for (Worker& worker : running_) {
        if (fds[i++].revents != 0) ReadFrom(worker);
    }
}

void Batch::ReadFrom(Worker& worker) {
    char bytes[4096];
    const ssize_t n = ::read(worker.process.fd.get(), bytes, sizeof bytes);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
        worker.ended = true;
        return;
    }
    worker.lines.Append(bytes, static_cast<std::size_t>(n));
    std::string text;
    WorkerLine line;
    while (worker.lines.Next(text)) {
        if (DecodeLine(text, line)) Handle(worker, line);
    }
}

void Batch::Handle(Worker& worker, const WorkerLine& line) {
    switch (line.event) {
    case WorkerEvent::Writing: worker.writingPath = line.text; break;
    case WorkerEvent::Progress:
        worker.done = line.done;
        worker.total = line.total;
        break;
    case WorkerEvent::Message: worker.messages.push_back(line.text); break;
    case WorkerEvent::Detail: worker.details.push_back(line.text); break;
    }
}

void Batch::ReapEnded() {
    for (auto it = running_.begin(); it != running_.end();) {
        if (!it->ended) {
            ++it;
            continue;
        }
        int status = 0;
        pid_t waited = -1;
        while ((waited = ::waitpid(it->process.pid, &status, 0)) < 0 && errno == EINTR) {
        }
        const int waitError = waited < 0 ? errno : 0;
        it->process.fd.Reset();
        const FileResult result = Finish(*it, status, waitError);
        const std::size_t job = it->job;
        it = running_.erase(it);
        Report(job, result);
    }
}

// What a worker's end means; the temporary file of one that did not finish is
// removed. A worker whose end cannot be learnt (waitError) did not finish.
FileResult Batch::Finish(const Worker& worker, int status, int waitError) const {
    FileResult result = ResultOf(worker.job, Outcome::Failed, worker.messages);
    result.details = worker.details;
    result.seconds = std::chrono::duration<double>(Clock::now() - worker.started).count();
    if (waitError == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        result.outcome = Outcome::Converted;
        return result;
    }
    RemoveUnfinished(worker.writingPath);
    if (waitError != 0) {
        result.messages.push_back(Said<CliText::EndUnknown>(std::strerror(waitError)));
    } else if (stopSignal_ != 0) {
        result.outcome = Outcome::Interrupted;
        result.messages = {CliWords(CliText::Interrupted)};
    } else if (WIFSIGNALED(status)) {
        result.messages.push_back(Said<CliText::EndedBySignal>(SignalName(WTERMSIG(status)).c_str()));
    } else if (result.messages.empty()) {
        result.messages.push_back(CliWords(CliText::ConversionFailed));
    }
    return result;
}

void Batch::StopWorkers() {
    const int signal = interrupts_.Count() > 1 ? SIGKILL : SIGTERM;
    if (signal == stopSignal_) return;
    stopSignal_ = signal;
    for (const Worker& worker : running_) ::kill(worker.process.pid, signal);
}

void Batch::Report(std::size_t job, const FileResult& result) {
    bar_.Clear();
    results_.Report(result);
    ++finished_;
    finishedWeight_ += static_cast<double>(jobs_[job].weight);
}

FileResult Batch::ResultOf(std::size_t job, Outcome outcome, std::vector<std::string> messages) const {
    FileResult result;
    result.source = jobs_[job].source;
    result.destination = jobs_[job].destination;
    result.outcome = outcome;
    result.messages = std::move(messages);
    return result;
}

void Batch::DrawProgress() {
    double done = finishedWeight_;
    for (const Worker& worker : running_) {
        if (worker.total == 0) continue;
        const double share = std::min(1.0, static_cast<double>(worker.done) / static_cast<double>(worker.total));
        done += share * static_cast<double>(jobs_[worker.job].weight);
    }
    const double fraction = totalWeight_ > 0 ? done / totalWeight_ : 1.0;
    const double elapsed = std::chrono::duration<double>(Clock::now() - started_).count();
    bar_.Draw(fraction, finished_, jobs_.size(), elapsed, fraction * totalSeconds_);
}

}  // namespace

bool RunBatch(const std::vector<Job>& jobs, const BatchOptions& options, const InterruptWatch& interrupts,
              Results& results) {
    return Batch(jobs, options, interrupts, results).Run();
}
