// The gate of open_gate.h over fanotify: one thread answers every permission
// event of the folder, so no open waits longer than its decision.
#include "open_gate.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/fanotify.h>
#include <unistd.h>

namespace kv::test::e2e {
namespace fs = std::filesystem;

OpenGate::OpenGate(const fs::path& folder, Decide decide)
    : FFolder(fs::canonical(folder)), FDecide(std::move(decide)) {
    FNotify = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_LARGEFILE);
    if (FNotify < 0) throw std::runtime_error(std::string("fanotify_init: ") + std::strerror(errno));
    if (fanotify_mark(FNotify, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_EVENT_ON_CHILD, AT_FDCWD, folder.c_str()) <
            0 ||
        pipe2(FStop, O_CLOEXEC) < 0) {
        const int error = errno;
        ::close(FNotify);
        throw std::runtime_error("fanotify on " + folder.string() + ": " + std::strerror(error));
    }
    FThread = std::thread([this] { Serve(); });
}

OpenGate::~OpenGate() {
    ::close(FStop[1]);
    FThread.join();
    // Closing the group lets any open still waiting go on.
    ::close(FNotify);
    ::close(FStop[0]);
}

void OpenGate::Serve() {
    alignas(fanotify_event_metadata) char buffer[16384];
    for (;;) {
        pollfd fds[2] = {{FNotify, POLLIN, 0}, {FStop[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        const ssize_t n = ::read(FNotify, buffer, sizeof buffer);
        if (n <= 0) continue;
        ssize_t left = n;
        for (auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer); FAN_EVENT_OK(event, left);
             event = FAN_EVENT_NEXT(event, left)) {
            if (event->fd < 0) continue;
            char path[PATH_MAX] = {};
            const std::string link = "/proc/self/fd/" + std::to_string(event->fd);
            const ssize_t length = ::readlink(link.c_str(), path, sizeof path - 1);
            const fs::path opened(std::string(path, length > 0 ? size_t(length) : 0));
            const bool allow = opened.parent_path() != FFolder || FDecide(opened.filename().string());
            const fanotify_response response{event->fd, allow ? uint32_t(FAN_ALLOW) : uint32_t(FAN_DENY)};
            [[maybe_unused]] const ssize_t written = ::write(FNotify, &response, sizeof response);
            ::close(event->fd);
        }
    }
}

} // namespace kv::test::e2e
