#include "cli/sources.h"
#include "cli/reporter.h"

#include "platform/kernel/unique_fd.h"
#include "res/cli_strings.h"
#include "wave/convert.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Bytes of standard input copied before their head is looked at.
constexpr std::size_t kHeadBytes = 64 << 10;

bool WriteAll(int fd, const char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string NumberedFault(const std::string& list, bool nullSeparated, std::size_t number, const char* what) {
    return nullSeparated ? Said<CliText::ListNameFault>(list.c_str(), number, what)
                         : Said<CliText::ListLineFault>(list.c_str(), number, what);
}

// Takes one name of a list; false with the reason when it can be no path.
bool TakeName(std::string& name, bool nullSeparated, std::vector<std::string>& paths) {
    if (!nullSeparated && !name.empty() && name.back() == '\r') name.pop_back();
    if (name.empty()) return !nullSeparated;
    paths.push_back(name);
    return true;
}

// Reports a reader's words on the spooled head, keeping only whether the
// first check, the RIFF form's, failed.
class HeadCheck final : public SilentReporter {
public:
    void FailedCheck(Text reason, const char*, const char*, int) override { notWave_ = reason == Text::NotRiffWave; }
    bool NotWave() const { return notWave_; }

private:
    bool notWave_ = false;
};

// False when the reader, given what has been spooled so far, finds no RIFF
// WAVE form at its start. What it cannot yet see (a format chunk further on)
// is left for the conversion to find.
bool StartsAsWave(int fd) {
    HeadCheck check;
    std::string description;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    return DescribeSourceFormat(path.c_str(), check, description) != SourceFormat::FailedCheck || !check.NotWave();
}

// An unnamed file for the spool; where the file system has none, a named one
// removed at once.
UniqueFd CreateUnnamedFile(std::string& error) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    UniqueFd fd(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (fd || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
        if (!fd) error = Said<CliText::CannotCreateIn>(folder.c_str(), std::strerror(errno));
        return fd;
    }
    std::string name = folder + "/wavtrn-cli-stdin-XXXXXX";
    fd.Reset(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd) error = Said<CliText::CannotCreate>(name.c_str(), std::strerror(errno));
    else ::unlink(name.c_str());
    return fd;
}

// Copies standard input to fd, looking at its head once kHeadBytes (or all of
// it) are in. False with the line to print.
bool CopyStandardInput(int fd, const InterruptWatch& interrupts, std::string& error) {
    std::vector<char> buffer(kHeadBytes);
    std::size_t copied = 0;
    bool headSeen = false;
    for (;;) {
        if (interrupts.Count() > 0) {
            error = CliWords(CliText::SpoolInterrupted);
            return false;
        }
        const ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || (n > 0 && !WriteAll(fd, buffer.data(), static_cast<std::size_t>(n)))) {
            error = Said<CliText::CannotSpool>(std::strerror(errno));
            return false;
        }
        copied += static_cast<std::size_t>(n);
        if (!headSeen && (n == 0 || copied >= kHeadBytes)) {
            headSeen = true;
            if (!StartsAsWave(fd)) {
                error = std::string("-: ") + PlainText(Text::NotRiffWave);
                return false;
            }
        }
        if (n == 0) return true;
    }
}

}  // namespace

bool ReadFileList(const std::string& list, bool nullSeparated, std::vector<std::string>& paths, std::string& error) {
    UniqueFd file(list == "-" ? -1 : ::open(list.c_str(), O_RDONLY | O_CLOEXEC));
    if (list != "-" && !file) {
        error = Said<CliText::CannotReadList>(list.c_str(), std::strerror(errno));
        return false;
    }
    const int fd = list == "-" ? STDIN_FILENO : file.get();
    const char separator = nullSeparated ? '\0' : '\n';
    std::string name;
    std::size_t number = 1;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = Said<CliText::CannotReadList>(list.c_str(), std::strerror(errno));
            return false;
        }
        if (n == 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == separator) {
                if (!TakeName(name, nullSeparated, paths)) {
                    error = NumberedFault(list, nullSeparated, number, CliWords(CliText::EmptyName));
                    return false;
                }
                name.clear();
                ++number;
            } else if (buffer[i] == '\0') {
                error = NumberedFault(list, nullSeparated, number, CliWords(CliText::NulInName));
                return false;
            } else if (name.size() + 1 >= PATH_MAX) {
                const std::string tooLong = Said<CliText::NameTooLong>(PATH_MAX - 1);
                error = NumberedFault(list, nullSeparated, number, tooLong.c_str());
                return false;
            } else {
                name += buffer[i];
            }
        }
    }
    if (!name.empty()) TakeName(name, nullSeparated, paths);
    return true;
}

bool SpoolStandardInput(const InterruptWatch& interrupts, std::string& error) {
    const UniqueFd spool = CreateUnnamedFile(error);
    if (!spool) return false;
    if (!CopyStandardInput(spool.get(), interrupts, error)) return false;
    if (::dup2(spool.get(), STDIN_FILENO) < 0) {
        error = Said<CliText::CannotSpool>(std::strerror(errno));
        return false;
    }
    return true;
}

std::string BaseName(const std::string& path) {
    std::string name = path;
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    const auto slash = name.find_last_of('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}
