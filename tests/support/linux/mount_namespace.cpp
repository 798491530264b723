// The mount-namespace child of mount_namespace.h.
#include "../mount_namespace.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kv::test {
namespace {

constexpr int kNoNamespace = 77;

} // namespace

NamespaceRun run_in_mount_namespace(const std::function<bool()>& body) {
    const pid_t child = ::fork();
    if (child < 0) {
        ADD_FAILURE() << "fork failed";
        return NamespaceRun::Failed;
    }
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            ::_exit(kNoNamespace);
        const bool mounted = body();
        std::fflush(stdout);
        ::_exit(!mounted ? kNoNamespace : ::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        ADD_FAILURE() << "the child did not exit by itself";
        return NamespaceRun::Failed;
    }
    return WEXITSTATUS(status) == kNoNamespace ? NamespaceRun::NoNamespace
           : WEXITSTATUS(status) == 0          ? NamespaceRun::Passed
                                               : NamespaceRun::Failed;
}

} // namespace kv::test
