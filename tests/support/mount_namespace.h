// A child process with a mount namespace of its own, for tests that mount a
// small file system or bind a folder: what the child mounts, nothing else on
// the machine sees, and it goes with the child.
#pragma once

#include <functional>

namespace kv::test {

enum class NamespaceRun {
    Passed,      // the body ran and no expectation failed in it
    Failed,      // see the child's failures, printed above
    NoNamespace, // no mount namespace (or the body's mounts) could be made here: skip
};

// Runs `body` in a forked child inside a mount namespace of its own (mounts
// private from "/" down) and waits for it. The body returns false when it
// cannot make its mounts. Linux only.
NamespaceRun run_in_mount_namespace(const std::function<bool()>& body);

} // namespace kv::test
