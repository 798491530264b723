// A window backend without pixels, for tests and for kvtool: the test plays
// the operator (clicks, keys, closing the window), reads the holders, sees
// every box with its caption, icon and text, and schedules actions that run
// inside the next ProcessMessages, as events arriving while a step pumps.
#pragma once

#include "platform/window/backend.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace kv::window {

struct BoxRecord {
    std::string caption;
    std::string text;
    BoxIcon icon = BoxIcon::None;
};

class ScriptedBackend : public Backend {
public:
    // `program` stands for the running program's file (the title's source).
    explicit ScriptedBackend(std::string program = "KVUpdate.exe") : FProgram(std::move(program)) {}

    // The operator's actions. click() returns whether the click reached the
    // control (it must be showing and enabled).
    bool click(const std::string& control);
    // Types each character into the focused control: a key press event, then
    // the character joins the text unless it is Enter or was swallowed.
    void type(const std::string& text);
    void press_enter();
    void close_window();
    // Runs inside the next process_messages() or wait_and_dispatch().
    void schedule(std::function<void()> action);

    Control& control(const std::string& name) const;
    Control* focused() const noexcept { return FFocus; }
    bool window_shown() const noexcept { return FShown; }
    int repaints() const noexcept { return FRepaints; }
    int pumps() const noexcept { return FPumps; }

    // Every box shown so far, in order.
    std::vector<BoxRecord> boxes;
    // Called while a box is open, as the operator reads it.
    std::function<void(const BoxRecord&)> on_box;

    void create_window(Form& form) override { FForm = &form; }
    void show_window() override;
    void update(Control&) override {}
    void focus(Control& control) override { FFocus = &control; }
    void repaint_now(Control&) override { ++FRepaints; }
    void paint_held() override {} // nothing is held without pixels
    void message_box(const std::string& caption, const std::string& text, BoxIcon icon) override;
    void process_messages() override;
    // Nothing can arrive while a test waits: with nothing scheduled and no
    // wake-up pending this raises instead of hanging.
    void wait_and_dispatch() override;
    void wake() override { FWoken = true; }
    std::string program_path() override { return FProgram; }

private:
    Form& form() const;

    std::string FProgram;
    Form* FForm = nullptr;
    Control* FFocus = nullptr;
    std::deque<std::function<void()>> FQueue;
    bool FShown = false;
    bool FWoken = false;
    int FRepaints = 0;
    int FPumps = 0;
};

} // namespace kv::window
