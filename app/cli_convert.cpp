// Batch conversion for the command-line companion. Every file is converted by
// ConvertWave in a forked worker whose standard output, standard error and
// message boxes all go into one pipe; the parent collects each worker's text
// and prints it, prefixed with the source's name, once the worker has ended,
// so the messages of two files never interleave.
#include "app/cli_convert.h"

#include "app/cli_backend.h"
#include "app/report.h"
#include "wave/convert.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Set by SIGINT, SIGTERM and SIGHUP; the byte written to the pipe wakes poll().
volatile sig_atomic_t gInterrupted = 0;
int gWakeFd = -1;

void OnInterrupt(int) {
    gInterrupted = 1;
    if (gWakeFd >= 0) {
        const char byte = 1;
        const int saved = errno;
        (void)!::write(gWakeFd, &byte, 1);
        errno = saved;
    }
}

struct Worker {
    std::size_t job = 0;
    pid_t pid = -1;
    int fd = -1;              // read end of the worker's pipe
    std::string text;         // everything the worker wrote
    std::uint64_t sourceBytes = 0;
    std::uint64_t readBytes = 0;
    std::string writingPath;  // the temporary file the worker writes, once seen
    bool eof = false;
};

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The directory a destination's file will be written in, with links resolved.
std::string ResolvedDirectoryOf(const std::string& destination) {
    char resolved[PATH_MAX];
    if (::realpath(destination.c_str(), resolved) != nullptr) return DirectoryOf(resolved);
    if (::realpath(DirectoryOf(destination).c_str(), resolved) != nullptr) return resolved;
    return {};
}

// Bytes the worker has read so far (its source, as the conversion reads it).
std::uint64_t ReadCount(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/io", static_cast<int>(pid));
    FILE* file = std::fopen(path, "re");
    if (file == nullptr) return 0;
    unsigned long long rchar = 0;
    char line[128];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (std::sscanf(line, "rchar: %llu", &rchar) == 1) break;
    }
    std::fclose(file);
    return rchar;
}

// The file a worker has open for writing in directory, other than the
// destination itself: the temporary file that becomes the destination. Known,
// it can be removed when the worker has to be stopped.
std::string FindWritingPath(pid_t pid, const std::string& directory, const std::string& destination) {
    if (directory.empty()) return {};
    char fdDir[64];
    std::snprintf(fdDir, sizeof fdDir, "/proc/%d/fd", static_cast<int>(pid));
    DIR* dir = ::opendir(fdDir);
    if (dir == nullptr) return {};
    char resolvedDestination[PATH_MAX] = "";
    if (::realpath(destination.c_str(), resolvedDestination) == nullptr) resolvedDestination[0] = '\0';
    std::string found;
    while (const dirent* entry = ::readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        if (fd <= STDERR_FILENO) continue;
        char link[PATH_MAX];
        const std::string linkPath = std::string(fdDir) + "/" + entry->d_name;
        const ssize_t n = ::readlink(linkPath.c_str(), link, sizeof link - 1);
        if (n <= 0) continue;
        link[n] = '\0';
        const std::string target = link;
        if (DirectoryOf(target) != directory || target == resolvedDestination) continue;

        char infoPath[64];
        std::snprintf(infoPath, sizeof infoPath, "/proc/%d/fdinfo/%d", static_cast<int>(pid), fd);
        FILE* info = std::fopen(infoPath, "re");
        if (info == nullptr) continue;
        unsigned flags = 0;
        char line[128];
        while (std::fgets(line, sizeof line, info) != nullptr) {
            if (std::sscanf(line, "flags: %o", &flags) == 1) break;
        }
        std::fclose(info);
        if ((flags & O_ACCMODE) != O_RDONLY) {
            found = target;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

[[noreturn]] void RunWorker(const ConvertJob& job, const WAVEFORMATEX* pwfxDst, int sinkFd) {
    // Ctrl-C reaches the whole process group; the parent decides for the
    // workers, so that it can remove what an unfinished one has written.
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGPIPE, SIG_DFL);

    // Everything the worker says, also what a library prints, goes to the pipe.
    ::dup2(sinkFd, STDOUT_FILENO);
    ::dup2(sinkFd, STDERR_FILENO);
    ::close_range(STDERR_FILENO + 1, ~0U, 0);
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (devNull >= 0) ::dup2(devNull, STDIN_FILENO);

    CaptureBackend backend;
    backend.SetMessageSink(STDERR_FILENO);
    SetWindowBackend(&backend);
    DialogReporter reporter(nullptr);
    const int rc = ConvertWave(job.source.c_str(), job.destination.c_str(), pwfxDst, reporter);
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(rc == 0 ? 0 : 1);
}

class ProgressBar {
public:
    explicit ProgressBar(bool enabled) : enabled_(enabled) {}

    void Draw(double fraction, std::size_t done, std::size_t total) {
        if (!enabled_) return;
        constexpr int kWidth = 30;
        fraction = std::clamp(fraction, 0.0, 1.0);
        const int filled = static_cast<int>(fraction * kWidth);
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.append(static_cast<std::size_t>(kWidth - filled), '-');
        std::fprintf(stderr, "\r[%s] %3d%%  %zu/%zu files\033[K", bar.c_str(), static_cast<int>(fraction * 100), done,
                     total);
        std::fflush(stderr);
        shown_ = true;
    }

    // Clears the bar's line before other text is printed.
    void Clear() {
        if (!enabled_ || !shown_) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        shown_ = false;
    }

private:
    bool enabled_;
    bool shown_ = false;
};

void PrintPrefixed(const std::string& source, const std::string& text) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::fprintf(stderr, "%s: %.*s\n", source.c_str(), static_cast<int>(end - start), text.data() + start);
        start = end + 1;
    }
}

std::string DescribeEnd(int status) {
    if (WIFSIGNALED(status)) {
        const char* name = ::sigabbrev_np(WTERMSIG(status));
        return std::string("conversion ended by signal ") + (name != nullptr ? std::string("SIG") + name : std::to_string(WTERMSIG(status)));
    }
    return {};
}

}  // namespace

int RunBatch(const std::vector<ConvertJob>& jobs, const WAVEFORMATEX* pwfxDst, const BatchOptions& options) {
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("wavtrn-cli: pipe");
        return static_cast<int>(jobs.size());
    }
    gWakeFd = wake[1];
    gInterrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction oldInt {}, oldTerm {}, oldHup {};
    ::sigaction(SIGINT, &action, &oldInt);
    ::sigaction(SIGTERM, &action, &oldTerm);
    ::sigaction(SIGHUP, &action, &oldHup);

    std::vector<std::uint64_t> sizes(jobs.size(), 0);
    std::uint64_t totalBytes = 0;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        struct stat st {};
        if (::stat(jobs[i].source.c_str(), &st) == 0 && S_ISREG(st.st_mode)) sizes[i] = static_cast<std::uint64_t>(st.st_size);
        totalBytes += sizes[i];
    }

    ProgressBar bar(options.progressBar);
    std::vector<Worker> running;
    std::size_t next = 0, finished = 0, failed = 0;
    std::uint64_t finishedBytes = 0;

    auto finish = [&](std::size_t job, bool ok, const std::string& text) {
        bar.Clear();
        std::fflush(stdout);
        PrintPrefixed(jobs[job].source, text);
        std::fflush(stderr);
        if (ok) {
            std::printf("%s -> %s\n", jobs[job].source.c_str(), jobs[job].destination.c_str());
            std::fflush(stdout);
        } else {
            ++failed;
        }
        ++finished;
        finishedBytes += sizes[job];
    };

    auto drawProgress = [&] {
        std::uint64_t done = finishedBytes;
        for (const Worker& w : running) done += std::min(w.readBytes, w.sourceBytes);
        const double fraction = totalBytes > 0 ? static_cast<double>(done) / static_cast<double>(totalBytes)
                                               : static_cast<double>(finished) / static_cast<double>(jobs.size());
        bar.Draw(fraction, finished, jobs.size());
    };

    while ((next < jobs.size() || !running.empty()) && !gInterrupted) {
        while (next < jobs.size() && static_cast<int>(running.size()) < options.workers && !gInterrupted) {
            const std::size_t job = next++;
            // The dialog says nothing about a source it cannot open; here it is said plainly.
            const int probe = ::open(jobs[job].source.c_str(), O_RDONLY | O_CLOEXEC);
            if (probe < 0) {
                finish(job, false, std::string("cannot open: ") + std::strerror(errno));
                continue;
            }
            struct stat st {};
            const bool isDirectory = ::fstat(probe, &st) == 0 && S_ISDIR(st.st_mode);
            ::close(probe);
            if (isDirectory) {
                finish(job, false, std::string("cannot open: ") + std::strerror(EISDIR));
                continue;
            }

            int sink[2];
            if (::pipe2(sink, O_CLOEXEC) != 0) {
                finish(job, false, std::string("cannot start a worker: ") + std::strerror(errno));
                continue;
            }
            std::fflush(stdout);
            std::fflush(stderr);
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::close(sink[0]);
                RunWorker(jobs[job], pwfxDst, sink[1]);
            }
            ::close(sink[1]);
            if (pid < 0) {
                ::close(sink[0]);
                finish(job, false, std::string("cannot start a worker: ") + std::strerror(errno));
                continue;
            }
            Worker worker;
            worker.job = job;
            worker.pid = pid;
            worker.fd = sink[0];
            worker.sourceBytes = sizes[job];
            running.push_back(std::move(worker));
        }
        if (running.empty()) continue;

        std::vector<pollfd> fds;
        fds.push_back({wake[0], POLLIN, 0});
        for (const Worker& w : running) fds.push_back({w.fd, POLLIN, 0});
        const int ready = ::poll(fds.data(), fds.size(), 100);
        if (ready < 0 && errno != EINTR) break;

        for (std::size_t i = 0; i < running.size(); ++i) {
            Worker& w = running[i];
            if ((fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                char buf[4096];
                const ssize_t n = ::read(w.fd, buf, sizeof buf);
                if (n > 0) {
                    w.text.append(buf, static_cast<std::size_t>(n));
                } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                    w.eof = true;
                }
            }
            if (!w.eof) {
                w.readBytes = ReadCount(w.pid);
                if (w.writingPath.empty()) {
                    const ConvertJob& job = jobs[w.job];
                    w.writingPath = FindWritingPath(w.pid, ResolvedDirectoryOf(job.destination), job.destination);
                }
            }
        }

        for (auto it = running.begin(); it != running.end();) {
            if (!it->eof) {
                ++it;
                continue;
            }
            int status = 0;
            while (::waitpid(it->pid, &status, 0) < 0 && errno == EINTR) {
            }
            ::close(it->fd);
            std::string text = it->text;
            const std::string end = DescribeEnd(status);
            if (!end.empty()) {
                // A worker that died left its unfinished file behind.
                if (!it->writingPath.empty()) ::unlink(it->writingPath.c_str());
                if (!text.empty() && text.back() != '\n') text += '\n';
                text += end;
            }
            const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            const std::size_t job = it->job;
            it = running.erase(it);
            finish(job, ok, text);
        }
        drawProgress();
    }

    bool interrupted = gInterrupted != 0;
    if (interrupted) {
        // Stop the unfinished conversions and remove what they were writing.
        for (Worker& w : running) {
            if (w.writingPath.empty()) {
                const ConvertJob& job = jobs[w.job];
                w.writingPath = FindWritingPath(w.pid, ResolvedDirectoryOf(job.destination), job.destination);
            }
            ::kill(w.pid, SIGKILL);
        }
        for (Worker& w : running) {
            int status = 0;
            while (::waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
            }
            ::close(w.fd);
            const bool completed = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            if (!completed && !w.writingPath.empty()) ::unlink(w.writingPath.c_str());
            std::string text = w.text;
            if (!completed && !text.empty() && text.back() != '\n') text += '\n';
            finish(w.job, completed, completed ? text : text + "interrupted");
        }
        running.clear();
    }
    bar.Clear();

    ::sigaction(SIGINT, &oldInt, nullptr);
    ::sigaction(SIGTERM, &oldTerm, nullptr);
    ::sigaction(SIGHUP, &oldHup, nullptr);
    gWakeFd = -1;
    ::close(wake[0]);
    ::close(wake[1]);

    const std::size_t notStarted = jobs.size() - finished;
    std::printf("%zu converted, %zu failed", finished - failed, failed);
    if (notStarted > 0) std::printf(", %zu not started", notStarted);
    std::printf("\n");
    std::fflush(stdout);
    if (interrupted) return -1;
    return static_cast<int>(failed);
}
