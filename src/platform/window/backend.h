// The window seam. The main window's controls are plain state holders
// (caption or text, enabled, visible, progress range, memo lines) kept by a
// Form; a backend draws them and delivers the operator's events back to the
// Form, which runs the handlers and hands escaping errors to the
// application. Three backends implement Backend: native Win32, Qt Widgets,
// and a scripted one for tests. Nothing here knows about the update itself.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv {

// The sender of an event: a control or the window itself.
class TObject {
public:
    virtual ~TObject() = default;
};

namespace window {

class Form;

enum class ControlKind { Button, Edit, Label, Panel, ProgressBar, Memo };

struct Bounds {
    int left = 0, top = 0, width = 0, height = 0;
};

// One control's state. Layout fields are set once while the form is built
// (before the backend creates the window); state changes go through the
// setters, which tell the backend. Sizes are pixels at 96 dpi, relative to
// the parent's client area.
class Control : public TObject {
public:
    Control(Form& form, std::string name, ControlKind kind, Control* parent = nullptr);
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    const std::string& Name() const noexcept { return FName; }
    ControlKind Kind() const noexcept { return FKind; }
    Control* Parent() const noexcept { return FParent; }
    Form& Owner() const noexcept { return FForm; }

    // Layout and fixed appearance.
    Bounds bounds;
    int tab_order = -1;         // -1: not a tab stop
    bool auto_size = false;     // a label as wide as its text
    bool centred = false;       // label text centred in its width
    bool raised_border = false; // panel: raised one-pixel border
    char password_char = 0;     // edit: each character shows as this
    std::string cue_text;       // edit: shown while empty and without focus

    // Caption of a button or label, text of an edit (one field).
    const std::string& Caption() const noexcept { return FText; }
    void SetCaption(std::string text) { SetText(std::move(text)); }
    const std::string& Text() const noexcept { return FText; }
    void SetText(std::string text);

    bool Enabled() const noexcept { return FEnabled; }
    void SetEnabled(bool enabled);
    bool Visible() const noexcept { return FVisible; }
    void SetVisible(bool visible);
    // Visible and every parent visible: what the operator can see and use.
    bool Showing() const noexcept;

    // Progress bar: 32-bit range and position; the position always lies in
    // the range; a maximum below the minimum lowers the minimum with it.
    int32_t Min() const noexcept { return FMin; }
    int32_t Max() const noexcept { return FMax; }
    int32_t Position() const noexcept { return FPosition; }
    void SetMax(int32_t max);
    void SetPosition(int32_t position);

    // Memo lines.
    const std::vector<std::string>& Lines() const noexcept { return FLines; }
    void AddLine(std::string line);

    void SetFocus();
    // Paints the control at once, without waiting for the event loop.
    void Repaint();

    // Handlers, assigned by the form's owner.
    std::function<void()> OnClick;
    std::function<void(char16_t& key)> OnKeyPress;

private:
    void changed();

    Form& FForm;
    std::string FName;
    ControlKind FKind;
    Control* FParent;
    std::string FText;
    bool FEnabled = true;
    bool FVisible = true;
    int32_t FMin = 0, FMax = 100, FPosition = 0;
    std::vector<std::string> FLines;
};

enum class BoxIcon { None, Error };

// What a window system does for the Form. Every call comes from the one
// user-interface thread.
class Backend {
public:
    virtual ~Backend() = default;

    // Builds the window for the form's holders; it is not shown yet. Updates
    // that arrive before this are ignored: this call reads every holder.
    virtual void create_window(Form& form) = 0;
    // Shows the window (the system picks its place), then calls
    // form.deliver_show() once.
    virtual void show_window() = 0;
    // A holder changed: draw its new state. A backend may hold the drawing
    // of a progress bar or label back until its next display frame.
    virtual void update(Control& control) = 0;
    virtual void focus(Control& control) = 0;
    // Paints the control at once; a control whose change is held back for
    // the next frame is painted with that frame instead.
    virtual void repaint_now(Control& control) = 0;
    // Draws and paints at once every change held back for the next frame.
    virtual void paint_held() = 0;
    // A modal box with one "OK" button, centred on the screen; returns when
    // the operator has closed it.
    virtual void message_box(const std::string& caption, const std::string& text, BoxIcon icon) = 0;
    // Handles every pending event and returns when none is left.
    virtual void process_messages() = 0;
    // Waits until at least one event arrives (or wake() is called), then
    // handles what is pending.
    virtual void wait_and_dispatch() = 0;
    // Makes a waiting wait_and_dispatch() return.
    virtual void wake() = 0;
    // The running program's file, for the application's title.
    virtual std::string program_path() = 0;
};

// The backend of the target being built: Win32 on Windows, Qt on Linux.
std::unique_ptr<Backend> create_native_backend();

// The window's state: caption, client size, font, the controls in creation
// order, and the delivery of the operator's events. An error escaping a
// handler goes to OnException (the application's error handling).
class Form : public TObject {
public:
    explicit Form(Backend& backend) : FBackend(backend) {}
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    Backend& backend() const noexcept { return FBackend; }
    const std::vector<Control*>& controls() const noexcept { return FControls; }
    Control* find(const std::string& name) const noexcept;

    std::string caption;
    int client_width = 0, client_height = 0;
    std::string font_name;
    int font_points = 0;
    bool taskbar_button = true;

    std::function<void()> OnShow;
    std::function<void()> OnClose; // the operator closes the window
    std::function<void(std::exception_ptr)> OnException;

    // Events from the backend. A click on a control that is disabled or not
    // showing is dropped, as the operator could not have made it.
    void deliver_click(Control& control);
    // Returns the key to pass on to the control (0: swallowed).
    char16_t deliver_key_press(Control& control, char16_t key);
    void deliver_show();
    void deliver_close();
    // Paints what the backend holds back for its next frame.
    void paint_held() { FBackend.paint_held(); }
    // Runs `handler` as an event handler: errors go to OnException.
    void run_handler(const std::function<void()>& handler);

private:
    friend class Control;
    Backend& FBackend;
    std::vector<Control*> FControls;
};

} // namespace window
} // namespace kv
