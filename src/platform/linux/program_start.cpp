// Program start on Linux: a double fork, so the program belongs to a session
// of its own and is never left as a zombie of the updater. A close-on-exec
// pipe carries an exec failure back, so the result tells whether it started.
#include "platform/program_start.h"

#include "platform/files.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

extern char** environ;

namespace kv::os {
namespace {

// Runs in the grandchild between fork and exec: async-signal-safe calls only.
[[noreturn]] void exec_detached(const char* file, int report_fd) {
    int null_fd = ::open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
        ::dup2(null_fd, 0);
        ::dup2(null_fd, 1);
        ::dup2(null_fd, 2);
    }
    // Nothing of the updater's (sockets, the database, log files) leaks into
    // the program: every other descriptor closes on exec, as the report pipe
    // does (kernels before 5.11 lack the flag: close them one by one).
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0)
        for (int fd = 3; fd < 1024; ++fd)
            if (fd != report_fd) ::close(fd);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int s = 1; s < NSIG; ++s)
        ::signal(s, SIG_DFL);
    char* const argv[] = {const_cast<char*>(file), nullptr};
    ::execve(file, argv, environ);
    int e = errno;
    [[maybe_unused]] ssize_t w = ::write(report_fd, &e, sizeof e);
    ::_exit(127);
}

} // namespace

bool start_program(std::string_view path, void*) {
    std::string file = native_path(path);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return false;
    pid_t child = ::fork();
    if (child < 0) {
        int e = errno;
        ::close(report[0]);
        ::close(report[1]);
        errno = e;
        return false;
    }
    if (child == 0) {
        ::close(report[0]);
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild == 0) exec_detached(file.c_str(), report[1]);
        if (grandchild < 0) {
            int e = errno;
            [[maybe_unused]] ssize_t w = ::write(report[1], &e, sizeof e);
        }
        ::_exit(0);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe reaches its end when the program has been exec'd (close on
    // exec) or an error number arrives when it could not be.
    int e = 0;
    ssize_t n;
    while ((n = ::read(report[0], &e, sizeof e)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (n == static_cast<ssize_t>(sizeof e)) {
        errno = e;
        return false;
    }
    return true;
}

} // namespace kv::os
