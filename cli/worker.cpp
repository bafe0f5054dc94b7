#include "cli/worker.h"

#include "cli/protocol.h"
#include "cli/reporter.h"
#include "wave/convert.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <new>
#include <sys/prctl.h>
#include <unistd.h>
#include <utility>

namespace {

// The worker's end of its pipe, where the parent reads its lines.
constexpr int kChannelFd = 3;

volatile sig_atomic_t gStopRequested = 0;

void OnStop(int) { gStopRequested = 1; }

// Signals, descriptors and the parent watch of a fresh worker.
void PrepareWorkerProcess(const WorkerTask& task, UniqueFd& channel, pid_t parent) {
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction stop {};
    stop.sa_handler = OnStop;
    sigemptyset(&stop.sa_mask);
    ::sigaction(SIGTERM, &stop, nullptr);
    // A parent that dies (even by SIGKILL) asks the worker to stop.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) gStopRequested = 1;

    // Nothing but the pipe stays open: the other workers' pipes would keep
    // them from ever seeing an end. Standard input and output are /dev/null,
    // so that a conversion never reads the terminal or writes into the
    // parent's output, unless the task reads or writes them; standard error
    // stays for what a library must say.
    if (channel.get() == kChannelFd) {
        (void)channel.Release();  // the worker's end already, open until it exits
    } else {
        ::dup2(channel.get(), kChannelFd);
        channel.Reset();
    }
    const int devNull = ::open("/dev/null", O_RDWR);
    if (devNull >= 0) {
        if (!task.readsStandardInput) ::dup2(devNull, STDIN_FILENO);
        if (!task.writesStandardOutput) ::dup2(devNull, STDOUT_FILENO);
    }
    ::close_range(kChannelFd + 1, ~0U, 0);
}

// Tells the parent through the pipe; progress is sent at most 200 times a
// file, and a pass sees whether the parent wants the worker to stop.
class WorkerReporter final : public CliReporter {
public:
    using CliReporter::CliReporter;

    bool Progress(std::uint64_t done, std::uint64_t total) override {
        const std::uint64_t step = total > 0 ? done * kSteps / total : kSteps;
        if (step != lastStep_) {
            lastStep_ = step;
            Send(EncodeProgress(done, total));
        }
        return gStopRequested == 0 && !parentGone_;
    }
    void Writing(const char* path) override { Send(EncodeLine(WorkerEvent::Writing, path)); }

protected:
    void Say(const std::string& text) override { Send(EncodeLine(WorkerEvent::Message, text)); }
    void Detail(const std::string& text) override { Send(EncodeLine(WorkerEvent::Detail, text)); }

private:
    static constexpr std::uint64_t kSteps = 200;

    void Send(const std::string& line) {
        std::size_t sent = 0;
        while (sent < line.size() && !parentGone_) {
            const ssize_t n = ::write(kChannelFd, line.data() + sent, line.size() - sent);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) parentGone_ = true;  // EPIPE: nobody reads any more
            else sent += static_cast<std::size_t>(n);
        }
    }

    std::uint64_t lastStep_ = ~std::uint64_t{0};
    bool parentGone_ = false;
};

[[noreturn]] void RunWorker(const WorkerTask& task, UniqueFd channel, pid_t parent) {
    PrepareWorkerProcess(task, channel, parent);
    WorkerReporter reporter(task.source, task.destination, task.verbose);
    int rc = -1;
    try {
        rc = ConvertWave(task.readPath.c_str(), task.destination.c_str(), task.pwfxDst, reporter, task.fdwConvert);
    } catch (const std::bad_alloc&) {
        // Unwinding has removed the temporary file; say why.
        reporter.Message(Text::OutOfMemory, 0);
    }
    ::_exit(rc == 0 ? 0 : 1);
}

}  // namespace

bool StartWorker(const WorkerTask& task, StartedWorker& started) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    UniqueFd readEnd(ends[0]), writeEnd(ends[1]);
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        readEnd.Reset();
        RunWorker(task, std::move(writeEnd), parent);
    }
    const int saved = errno;
    writeEnd.Reset();
    if (pid < 0) {
        errno = saved;
        return false;
    }
    started.pid = pid;
    started.fd = std::move(readEnd);
    return true;
}
