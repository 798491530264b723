// Drawing paced to the display. During a download the progress bar and its
// text change at every receive, thousands of times a second, while a display
// shows one frame per refresh: drawing each change costs far more than the
// transfer itself and shows nothing more. A backend hands the changes of
// such controls to a FramePacer, which draws each control at most once per
// frame and holds the changes in between; whatever is held is drawn when the
// frame is over (the backend's timer calls draw_due) or at once when asked
// (draw_held). The holders always carry the latest state: only the drawing
// waits, never the workflow.
#pragma once

#include <chrono>
#include <functional>
#include <map>

namespace kv::window {

class Control;

class FramePacer {
public:
    using Clock = std::chrono::steady_clock;

    // `draw` puts a control's state on the screen. `call_in` asks the backend
    // to call draw_due() once after the given delay; the pacer asks again
    // only after that call.
    FramePacer(std::function<void(Control&)> draw, std::function<void(Clock::duration)> call_in)
        : FDraw(std::move(draw)), FCallIn(std::move(call_in)) {}

    // One display frame; 60 Hz until the backend knows its screen's rate.
    void set_refresh_rate(double hertz);
    void set_frame(Clock::duration frame) { FFrame = frame; }

    // The control changed: drawn now when a frame has passed since its last
    // drawing, otherwise held. Returns whether it was drawn.
    bool changed(Control& c);
    bool holds(const Control& c) const;
    // The timer's call: draws the held controls whose frame is over and asks
    // to be called again for the others.
    void draw_due();
    // Draws every held control now (the final state of a transfer).
    void draw_held();

private:
    struct State {
        Clock::time_point drawn = Clock::time_point::min(); // never drawn yet: due at once
        bool held = false;
    };
    void draw(Control& c, State& s, Clock::time_point now);

    std::function<void(Control&)> FDraw;
    std::function<void(Clock::duration)> FCallIn;
    Clock::duration FFrame = std::chrono::microseconds(16667);
    std::map<Control*, State> FStates;
    bool FCallPending = false;
};

} // namespace kv::window
