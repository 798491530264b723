// The "in any case" rule of the update workflow, in one place.
//
//   in_any_case(body, cleanup): cleanup runs after body, whether body returned
//   or raised. If cleanup raises, its error replaces the one in flight;
//   otherwise body's error (if any) continues after cleanup.
//
//   Stages: a sequence of stages at one level. then(f) runs f only while no
//   earlier stage of this level has failed; then_in_any_case(f) runs f always,
//   and an error it raises replaces the earlier one. finish() rethrows the most
//   recent error. Nested levels are nested Stages (or in_any_case) inside f.
#pragma once

#include <exception>
#include <utility>

namespace kv {

template <class Body, class Cleanup> void in_any_case(Body&& body, Cleanup&& cleanup) {
    try {
        std::forward<Body>(body)();
    } catch (...) {
        std::forward<Cleanup>(cleanup)(); // an error here leaves instead of the caught one
        throw;
    }
    std::forward<Cleanup>(cleanup)();
}

class Stages {
public:
    template <class F> Stages& then(F&& f) {
        if (!FError) run(std::forward<F>(f));
        return *this;
    }
    template <class F> Stages& then_in_any_case(F&& f) {
        run(std::forward<F>(f));
        return *this;
    }
    bool failed() const noexcept { return static_cast<bool>(FError); }
    void finish() {
        if (FError) std::rethrow_exception(std::exchange(FError, nullptr));
    }

private:
    template <class F> void run(F&& f) {
        try {
            std::forward<F>(f)();
        } catch (...) {
            FError = std::current_exception();
        }
    }
    std::exception_ptr FError;
};

} // namespace kv
