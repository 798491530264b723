// Drawing paced to the display: a burst of changes is drawn once per frame,
// and whatever is held is drawn with its latest state when the frame ends or
// when the final state is asked for.
#include "platform/window/frame_pacer.h"
#include "platform/window/scripted/scripted_backend.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace kv::window {
namespace {

using namespace std::chrono_literals;

struct Paced {
    ScriptedBackend backend;
    Form form{backend};
    Control bar{form, "ProgressBar", ControlKind::ProgressBar};
    Control label{form, "Label27", ControlKind::Label};
    std::vector<int32_t> drawn_positions;
    std::vector<std::string> drawn_texts;
    std::vector<FramePacer::Clock::duration> calls_asked;
    FramePacer pacer{[this](Control& c) {
                         if (&c == &bar) drawn_positions.push_back(c.Position());
                         if (&c == &label) drawn_texts.push_back(c.Caption());
                     },
                     [this](FramePacer::Clock::duration d) { calls_asked.push_back(d); }};
    Paced() { bar.SetMax(1'000'000); }

    void progress(int32_t position) {
        bar.SetPosition(position);
        pacer.changed(bar);
        label.SetCaption("% " + std::to_string(position));
        pacer.changed(label);
    }
};

TEST(FramePacer, ABurstWithinOneFrameIsDrawnOnceThenItsLastStateWhenAsked) {
    Paced p;
    p.pacer.set_frame(1h); // the whole burst falls inside the first frame
    for (int32_t i = 1; i <= 1000; ++i)
        p.progress(i * 32);
    EXPECT_EQ(p.drawn_positions, std::vector<int32_t>{32});
    EXPECT_EQ(p.drawn_texts, std::vector<std::string>{"% 32"});
    EXPECT_TRUE(p.pacer.holds(p.bar));
    ASSERT_EQ(p.calls_asked.size(), 1u); // one timer for all that is held
    EXPECT_GT(p.calls_asked[0], 59min);

    // The frame is not over: the timer's call draws nothing and asks again.
    p.pacer.draw_due();
    EXPECT_EQ(p.drawn_positions.size(), 1u);
    EXPECT_EQ(p.calls_asked.size(), 2u);

    p.pacer.draw_held();
    EXPECT_EQ(p.drawn_positions, (std::vector<int32_t>{32, 32000}));
    EXPECT_EQ(p.drawn_texts, (std::vector<std::string>{"% 32", "% 32000"}));
    EXPECT_FALSE(p.pacer.holds(p.bar));
    EXPECT_FALSE(p.pacer.holds(p.label));
    p.pacer.draw_held(); // nothing left to draw
    EXPECT_EQ(p.drawn_positions.size(), 2u);
}

TEST(FramePacer, ChangesAFrameApartAreDrawnAtOnceAndTheTimerDrawsWhatIsDue) {
    Paced p;
    p.pacer.set_frame(0s);
    for (int32_t i = 1; i <= 5; ++i)
        p.progress(i);
    EXPECT_EQ(p.drawn_positions, (std::vector<int32_t>{1, 2, 3, 4, 5}));
    EXPECT_TRUE(p.calls_asked.empty());

    p.pacer.set_frame(1h);
    p.progress(6); // held: the last drawing was just now
    p.pacer.set_frame(0s);
    p.pacer.draw_due();
    EXPECT_EQ(p.drawn_positions.back(), 6);
    EXPECT_EQ(p.drawn_texts.back(), "% 6");
    EXPECT_FALSE(p.pacer.holds(p.bar));
    EXPECT_EQ(p.calls_asked.size(), 1u); // nothing left: no further call asked
}

} // namespace
} // namespace kv::window
