#include "cli/sources.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <unistd.h>

namespace {

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

}  // namespace

bool ReadFileList(const std::string& list, std::vector<std::string>& paths, std::string& error) {
    std::ifstream file;
    if (list != "-") {
        file.open(list);
        if (!file) {
            error = "cannot read '" + list + "': " + std::strerror(errno);
            return false;
        }
    }
    std::istream& in = list == "-" ? std::cin : file;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) paths.push_back(line);
    }
    if (in.bad()) {
        error = "cannot read '" + list + "': " + std::strerror(errno);
        return false;
    }
    return true;
}

StdinSpool::~StdinSpool() {
    if (!path_.empty()) ::unlink(path_.c_str());
}

bool StdinSpool::Fill(const InterruptWatch& interrupts, std::string& error) {
    const char* tmp = std::getenv("TMPDIR");
    std::string name = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/wavtrn-cli-stdin-XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot create '" + name + "': " + std::strerror(errno);
        return false;
    }
    path_ = name;
    char buffer[1 << 16];
    bool ok = true;
    while (ok && interrupts.Count() == 0) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0 && WriteAll(fd, buffer, static_cast<std::size_t>(n));
        if (!ok) error = std::string("cannot spool standard input: ") + std::strerror(errno);
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = std::string("cannot spool standard input: ") + std::strerror(errno);
    }
    if (ok && interrupts.Count() > 0) {
        ok = false;
        error = "interrupted";
    }
    return ok;
}

std::string BaseName(const std::string& path) {
    std::string name = path;
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    const auto slash = name.find_last_of('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}
