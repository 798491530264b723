// The application object: the program's title, the forms it creates, the
// event loop with its end request, and the error box for every error that
// escapes an event handler.
#pragma once

#include "app/run_log.h"
#include "platform/window/backend.h"

#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kv {

class TApplication {
public:
    // Installs HandleException as the central error handler of the
    // components that report an error and go on (the script runner).
    explicit TApplication(window::Backend& backend);
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;
    ~TApplication();

    // Takes the title from the program file's name: without its folder and
    // everything from the first "." on, the first character as stored and
    // the rest in lower case.
    void Initialize();
    const std::string& Title() const noexcept { return FTitle; }

    // The main window gets its own taskbar button.
    bool MainFormOnTaskBar = false;

    // Creates the form (the first one is the main window), builds its window
    // and runs its creation handler; errors of the handler go to the error box.
    template <class T, class... A> void CreateForm(T*& ref, A&&... args) {
        auto form = std::make_unique<T>(*this, std::forward<A>(args)...);
        ref = form.get();
        adopt(std::move(form));
        FBackend.create_window(*ref);
        ref->run_handler([ref] { ref->FormCreate(ref); });
    }

    // Shows the main window and runs the event loop until Terminate.
    void Run();
    // Asks the event loop to end; it ends once control is back in it, even
    // when asked before Run.
    void Terminate();
    bool Terminated() const noexcept { return FTerminated; }
    void ProcessMessages() { FBackend.process_messages(); }

    // EAbort: nothing. Anything else: the error box with the innermost
    // non-empty message, a "." appended when it ends in a character above ".".
    void HandleException(std::exception_ptr error);
    void ShowException(const std::string& message);
    // The notice box: the title as caption, no icon, the text, "OK".
    void ShowMessage(const std::string& text);

    window::Backend& Backend() const noexcept { return FBackend; }

    // The record of this run; the program entry opens it, so a window built
    // by kvtool or a test writes nothing unless asked to.
    TRunLog Log;

private:
    void adopt(std::unique_ptr<window::Form> form);

    window::Backend& FBackend;
    std::vector<std::unique_ptr<window::Form>> FForms;
    window::Form* FMainForm = nullptr;
    std::string FTitle;
    bool FTerminated = false;
};

// The title rule, on any program path ("\" or "/" separated).
std::string application_title(const std::string& program_path);
// The text the error box shows for a message (the full-stop rule).
std::string error_box_text(const std::string& message);
// The innermost non-empty message of an error and those it wraps
// (std::nested_exception).
std::string innermost_message(std::exception_ptr error);

} // namespace kv
