// The application object: title, event loop, end request and error box.
#include "app/application.h"

#include "db/db_connection.h"
#include "platform/unicode.h"
#include "rtl/exception.h"

namespace kv {

namespace {

// Lower case as the system's character tables give it for the letters a
// program name can hold: A-Z, Latin-1 capitals and the Turkish ones.
char16_t lower_letter(char16_t c) {
    if (c >= u'A' && c <= u'Z') return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    if (c == 0x0130) return u'i';
    if (c == 0x011E || c == 0x015E) return c + 1;
    return c;
}

} // namespace

std::string application_title(const std::string& program_path) {
    std::string name = program_path.substr(program_path.find_last_of("\\/") + 1);
    name = name.substr(0, name.find('.'));
    std::u16string wide = utf8_to_utf16(name);
    for (size_t i = 1; i < wide.size(); ++i)
        wide[i] = lower_letter(wide[i]);
    return utf16_to_utf8(wide);
}

std::string error_box_text(const std::string& message) {
    // Every byte of a multi-byte UTF-8 character is above ".", as the
    // character's code is.
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
    return message;
}

std::string innermost_message(std::exception_ptr error) {
    std::string message;
    while (error) {
        ErrorInfo info = describe_exception(error);
        if (!info.message.empty()) message = info.message;
        std::exception_ptr inner;
        try {
            std::rethrow_exception(error);
        } catch (const std::nested_exception& nested) {
            inner = nested.nested_ptr();
        } catch (...) {
        }
        error = inner;
    }
    return message;
}

TApplication::TApplication(window::Backend& backend) : FBackend(backend) {
    SetApplicationErrorHandler([this](std::exception_ptr e) { HandleException(e); });
}

TApplication::~TApplication() {
    // Forms go before the application they refer to, the last created first.
    while (!FForms.empty())
        FForms.pop_back();
    SetApplicationErrorHandler(nullptr);
}

void TApplication::Initialize() {
    FTitle = application_title(FBackend.program_path());
}

void TApplication::adopt(std::unique_ptr<window::Form> form) {
    form->OnException = [this](std::exception_ptr e) { HandleException(e); };
    form->taskbar_button = MainFormOnTaskBar;
    if (!FMainForm) {
        FMainForm = form.get();
        FMainForm->OnClose = [this] { Terminate(); };
    }
    FForms.push_back(std::move(form));
}

void TApplication::Run() {
    if (!FMainForm) return;
    FBackend.show_window();
    while (!FTerminated)
        FBackend.wait_and_dispatch();
}

void TApplication::Terminate() {
    FTerminated = true;
    FBackend.wake();
}

void TApplication::HandleException(std::exception_ptr error) {
    if (describe_exception(error).silent) return;
    ShowException(innermost_message(error));
}

void TApplication::ShowException(const std::string& message) {
    const std::string text = error_box_text(message);
    Log.ErrorBox(text);
    FBackend.message_box(FTitle, text, window::BoxIcon::Error);
}

void TApplication::ShowMessage(const std::string& text) {
    Log.Notice(text);
    FBackend.message_box(FTitle, text, window::BoxIcon::None);
}

} // namespace kv
