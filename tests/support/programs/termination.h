// How the stand-in keeps others from ending it, as a program started with
// higher rights than the updater's (by an administrator, or as a service) is
// kept: the update's KillProcessByName then cannot stop it.
#pragma once

namespace kv::test {

// Denies every other process the right to terminate this one. Returns false
// where the system offers no such thing.
bool refuse_termination();

} // namespace kv::test
