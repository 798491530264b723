// Frame pacing shared by the Win32 and Qt backends.
#include "platform/window/frame_pacer.h"

#include <algorithm>

namespace kv::window {

void FramePacer::set_refresh_rate(double hertz) {
    // Screens that report no rate (or a made-up one) get the common 60 Hz.
    if (hertz < 20 || hertz > 1000) hertz = 60;
    set_frame(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / hertz)));
}

void FramePacer::draw(Control& c, State& s, Clock::time_point now) {
    s.held = false;
    s.drawn = now;
    FDraw(c);
}

bool FramePacer::changed(Control& c) {
    const auto now = Clock::now();
    State& s = FStates[&c];
    if (!s.held && s.drawn <= now - FFrame) {
        draw(c, s, now);
        return true;
    }
    s.held = true;
    if (!FCallPending) {
        FCallPending = true;
        FCallIn(std::max(Clock::duration::zero(), s.drawn + FFrame - now));
    }
    return false;
}

bool FramePacer::holds(const Control& c) const {
    auto it = FStates.find(const_cast<Control*>(&c));
    return it != FStates.end() && it->second.held;
}

void FramePacer::draw_due() {
    FCallPending = false;
    const auto now = Clock::now();
    Clock::duration next = Clock::duration::max();
    for (auto& [c, s] : FStates) {
        if (!s.held) continue;
        if (s.drawn <= now - FFrame)
            draw(*c, s, now);
        else
            next = std::min(next, s.drawn + FFrame - now);
    }
    if (next != Clock::duration::max()) {
        FCallPending = true;
        FCallIn(next);
    }
}

void FramePacer::draw_held() {
    const auto now = Clock::now();
    for (auto& [c, s] : FStates)
        if (s.held) draw(*c, s, now);
}

} // namespace kv::window
