// The state holders of the window and the delivery of the operator's events;
// shared by every backend, free of any window system.
#include "platform/window/backend.h"

#include <algorithm>

namespace kv::window {

Control::Control(Form& form, std::string name, ControlKind kind, Control* parent)
    : FForm(form), FName(std::move(name)), FKind(kind), FParent(parent) {
    form.FControls.push_back(this);
}

void Control::changed() {
    FForm.backend().update(*this);
}

void Control::SetText(std::string text) {
    if (text == FText) return;
    FText = std::move(text);
    changed();
}

void Control::SetEnabled(bool enabled) {
    if (enabled == FEnabled) return;
    FEnabled = enabled;
    changed();
}

void Control::SetVisible(bool visible) {
    if (visible == FVisible) return;
    FVisible = visible;
    changed();
}

bool Control::Showing() const noexcept {
    for (const Control* c = this; c; c = c->FParent)
        if (!c->FVisible) return false;
    return true;
}

void Control::SetMax(int32_t max) {
    FMax = max;
    FMin = std::min(FMin, max);
    FPosition = std::clamp(FPosition, FMin, FMax);
    changed();
}

void Control::SetPosition(int32_t position) {
    FPosition = std::clamp(position, FMin, FMax);
    changed();
}

void Control::AddLine(std::string line) {
    FLines.push_back(std::move(line));
    changed();
}

void Control::SetFocus() {
    FForm.backend().focus(*this);
}

void Control::Repaint() {
    FForm.backend().repaint_now(*this);
}

Control* Form::find(const std::string& name) const noexcept {
    for (Control* c : FControls)
        if (c->Name() == name) return c;
    return nullptr;
}

void Form::run_handler(const std::function<void()>& handler) {
    if (!handler) return;
    try {
        handler();
    } catch (...) {
        if (!OnException) throw;
        OnException(std::current_exception());
    }
}

void Form::deliver_click(Control& control) {
    if (!control.Enabled() || !control.Showing()) return;
    run_handler(control.OnClick);
}

char16_t Form::deliver_key_press(Control& control, char16_t key) {
    if (control.OnKeyPress) run_handler([&] { control.OnKeyPress(key); });
    return key;
}

void Form::deliver_show() {
    run_handler(OnShow);
}

void Form::deliver_close() {
    run_handler(OnClose);
}

} // namespace kv::window
