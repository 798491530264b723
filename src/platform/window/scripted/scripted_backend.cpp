// The scripted window: the operator's actions become Form events at once;
// scheduled actions wait for the workflow to pump events.
#include "platform/window/scripted/scripted_backend.h"

#include "platform/unicode.h"

#include <stdexcept>

namespace kv::window {

Form& ScriptedBackend::form() const {
    if (!FForm) throw std::logic_error("scripted window: no window created");
    return *FForm;
}

Control& ScriptedBackend::control(const std::string& name) const {
    Control* c = form().find(name);
    if (!c) throw std::logic_error("scripted window: no control " + name);
    return *c;
}

bool ScriptedBackend::click(const std::string& name) {
    Control& c = control(name);
    if (!c.Enabled() || !c.Showing()) return false;
    FFocus = &c;
    form().deliver_click(c);
    return true;
}

void ScriptedBackend::type(const std::string& text) {
    if (!FFocus) throw std::logic_error("scripted window: nothing has the focus");
    for (char16_t key : utf8_to_utf16(text)) {
        Control& c = *FFocus;
        char16_t passed = form().deliver_key_press(c, key);
        if (passed != 0 && passed != u'\r') c.SetText(c.Text() + utf16_to_utf8(std::u16string(1, passed)));
    }
}

void ScriptedBackend::press_enter() {
    type("\r");
}

void ScriptedBackend::close_window() {
    form().deliver_close();
}

void ScriptedBackend::schedule(std::function<void()> action) {
    FQueue.push_back(std::move(action));
}

void ScriptedBackend::show_window() {
    FShown = true;
    form().deliver_show();
}

void ScriptedBackend::message_box(const std::string& caption, const std::string& text, BoxIcon icon) {
    boxes.push_back({caption, text, icon});
    if (on_box) on_box(boxes.back());
}

void ScriptedBackend::process_messages() {
    ++FPumps;
    FWoken = false;
    while (!FQueue.empty()) {
        auto action = std::move(FQueue.front());
        FQueue.pop_front();
        action();
    }
}

void ScriptedBackend::wait_and_dispatch() {
    if (FQueue.empty() && !FWoken)
        throw std::logic_error("scripted window: the event loop would wait forever");
    process_messages();
}

} // namespace kv::window
