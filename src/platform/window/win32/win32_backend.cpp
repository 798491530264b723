// The window drawn with native Win32 controls (the Windows target). Each
// holder becomes a child window (the panel a window of our own class holding
// its children); sizes are the holders' 96-dpi pixels scaled with the
// monitor's DPI and rescaled when the window moves to another monitor. The
// message loop runs IsDialogMessageW so Tab moves between controls and Enter
// in the edit field reaches its key-press handler. Boxes are MessageBoxW.
// The bar and the labels are drawn at most once per display frame
// (FramePacer), the held changes by a timer of the window.
#include "platform/window/backend.h"
#include "platform/window/frame_pacer.h"

#include "platform/unicode.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kv::window {

namespace {

constexpr wchar_t kWindowClass[] = L"TForm1";
constexpr wchar_t kPanelClass[] = L"TPanel";
constexpr int kFirstControlId = 100; // clear of IDOK and IDCANCEL
constexpr UINT_PTR kPaceTimer = 1;

class Win32Backend;
Win32Backend* g_backend = nullptr; // the one window of this thread

int scale(int value, UINT dpi) {
    return MulDiv(value, static_cast<int>(dpi), 96);
}

// The per-monitor DPI calls exist from Windows 10 on; older systems get the
// system DPI and the plain frame calculation, so the program still starts.
template <class Fn> Fn user32_function(const char* name) {
    FARPROC f = GetProcAddress(GetModuleHandleW(L"user32.dll"), name);
    Fn fn = nullptr;
    static_assert(sizeof(fn) == sizeof(f));
    if (f) memcpy(&fn, &f, sizeof(fn));
    return fn;
}

UINT window_dpi(HWND hwnd) {
    static auto get_dpi = user32_function<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
    if (get_dpi) return get_dpi(hwnd);
    HDC dc = GetDC(nullptr);
    UINT dpi = static_cast<UINT>(GetDeviceCaps(dc, LOGPIXELSX));
    ReleaseDC(nullptr, dc);
    return dpi;
}

void adjust_window_rect(RECT* rc, DWORD style, DWORD ex, UINT dpi) {
    static auto adjust =
        user32_function<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
    if (adjust)
        adjust(rc, style, FALSE, ex, dpi);
    else
        AdjustWindowRectEx(rc, style, FALSE, ex);
}

LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
int CALLBACK font_found(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}
LRESULT CALLBACK panel_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
LRESULT CALLBACK edit_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR ref);

class Win32Backend : public Backend {
public:
    Win32Backend()
        : FPacer([this](Control& c) { draw(c); }, [this](FramePacer::Clock::duration d) { call_in(d); }) {
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&icc);
        HINSTANCE inst = GetModuleHandleW(nullptr);
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = window_proc;
        wc.hInstance = inst;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hIcon = LoadIconW(inst, MAKEINTRESOURCEW(1));
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kWindowClass;
        RegisterClassExW(&wc);
        wc.lpfnWndProc = panel_proc;
        wc.hIcon = nullptr;
        wc.lpszClassName = kPanelClass;
        RegisterClassExW(&wc);
        g_backend = this;
    }
    ~Win32Backend() override {
        // The holders are gone by now: notifications sent while the window
        // is destroyed must not find them.
        FHandles.clear();
        if (FWindow) DestroyWindow(FWindow);
        if (FFont) DeleteObject(FFont);
        g_backend = nullptr;
    }

    void create_window(Form& form) override;
    void show_window() override {
        ShowWindow(FWindow, SW_SHOWNORMAL);
        UpdateWindow(FWindow);
        FForm->deliver_show();
    }
    void update(Control& control) override;
    void focus(Control& control) override {
        if (HWND h = handle(control)) SetFocus(h);
    }
    void repaint_now(Control& control) override {
        if (FPacer.holds(control)) return;
        if (HWND h = handle(control)) RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    }
    void paint_held() override {
        for (Control* c : FPacer.draw_held())
            if (HWND h = handle(*c)) RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    }
    void message_box(const std::string& caption, const std::string& text, BoxIcon icon) override {
        UINT type = MB_OK | MB_TASKMODAL | MB_SETFOREGROUND | (icon == BoxIcon::Error ? MB_ICONERROR : 0);
        MessageBoxW(nullptr, to_wide(text).c_str(), to_wide(caption).c_str(), type);
    }
    void process_messages() override {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            dispatch(msg);
    }
    void wait_and_dispatch() override {
        MSG msg;
        if (GetMessageW(&msg, nullptr, 0, 0) > 0) dispatch(msg);
        process_messages();
    }
    void wake() override { PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0); }
    std::string program_path() override {
        std::wstring buf(32768, L'\0');
        DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        buf.resize(n);
        return from_wide(buf);
    }

    // From the window procedures.
    LRESULT on_window_message(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    bool on_command(WPARAM wp, LPARAM lp);
    Control* control_of(HWND h) const {
        for (auto& [c, w] : FHandles)
            if (w == h) return c;
        return nullptr;
    }
    Form& form() const { return *FForm; }

private:
    HWND handle(Control& c) const {
        auto it = FHandles.find(&c);
        return it == FHandles.end() ? nullptr : it->second;
    }
    void dispatch(MSG& msg) {
        if (FWindow && IsDialogMessageW(FWindow, &msg)) return;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    HWND make_control(Control& c, HWND parent, int id);
    void draw(Control& c);
    void call_in(FramePacer::Clock::duration delay) {
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(delay).count();
        SetTimer(FWindow, kPaceTimer, static_cast<UINT>(std::max<decltype(ms)>(ms, USER_TIMER_MINIMUM)),
                 nullptr);
    }
    void make_font();
    void place(Control& c);
    void place_all();
    void set_tab_order();
    Bounds window_bounds(const Control& c) const;

    Form* FForm = nullptr;
    HWND FWindow = nullptr;
    HFONT FFont = nullptr;
    UINT FDpi = 96;
    std::map<Control*, HWND> FHandles;
    FramePacer FPacer;
};

HWND Win32Backend::make_control(Control& c, HWND parent, int id) {
    const wchar_t* cls = L"";
    DWORD style = WS_CHILD, ex = 0;
    switch (c.Kind()) {
    case ControlKind::Button:
        cls = L"Button";
        style |= BS_PUSHBUTTON;
        break;
    case ControlKind::Edit:
        cls = L"Edit";
        style |= ES_AUTOHSCROLL | (c.password_char ? ES_PASSWORD : 0);
        ex = WS_EX_CLIENTEDGE;
        break;
    case ControlKind::Label:
        cls = L"Static";
        style |= SS_NOPREFIX | (c.centred ? SS_CENTER : SS_LEFTNOWORDWRAP);
        break;
    case ControlKind::Panel:
        cls = kPanelClass;
        style |= WS_CLIPSIBLINGS;
        ex = WS_EX_CONTROLPARENT;
        break;
    case ControlKind::ProgressBar:
        cls = PROGRESS_CLASSW;
        break;
    case ControlKind::Memo:
        cls = L"Edit";
        style |= ES_MULTILINE | ES_READONLY | WS_VSCROLL;
        ex = WS_EX_CLIENTEDGE;
        break;
    }
    if (c.tab_order >= 0 && c.Kind() != ControlKind::Panel) style |= WS_TABSTOP;
    HWND h = CreateWindowExW(ex, cls, L"", style, 0, 0, 0, 0, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                             nullptr);
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
    if (c.Kind() == ControlKind::Edit) {
        if (c.password_char) SendMessageW(h, EM_SETPASSWORDCHAR, static_cast<WPARAM>(c.password_char), 0);
        // FALSE: the cue disappears while the field has the focus.
        SendMessageW(h, EM_SETCUEBANNER, FALSE, reinterpret_cast<LPARAM>(to_wide(c.cue_text).c_str()));
        SetWindowSubclass(h, edit_proc, 1, 0);
    }
    return h;
}

void Win32Backend::make_font() {
    if (FFont) DeleteObject(FFont);
    LOGFONTW lf{};
    lf.lfCharSet = DEFAULT_CHARSET;
    const std::wstring face = to_wide(FForm->font_name);
    wcsncpy(lf.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    HDC dc = GetDC(nullptr);
    bool present = false;
    EnumFontFamiliesExW(dc, &lf, font_found, reinterpret_cast<LPARAM>(&present), 0);
    ReleaseDC(nullptr, dc);
    if (!present) {
        NONCLIENTMETRICSW ncm{};
        ncm.cbSize = sizeof(ncm);
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0);
        lf = ncm.lfMessageFont;
    }
    lf.lfHeight = -MulDiv(FForm->font_points, static_cast<int>(FDpi), 72);
    lf.lfWidth = 0;
    FFont = CreateFontIndirectW(&lf);
}

Bounds Win32Backend::window_bounds(const Control& c) const {
    Bounds b{scale(c.bounds.left, FDpi), scale(c.bounds.top, FDpi), scale(c.bounds.width, FDpi),
             scale(c.bounds.height, FDpi)};
    if (c.Kind() == ControlKind::Label && c.auto_size) {
        HWND h = FHandles.at(const_cast<Control*>(&c));
        HDC dc = GetDC(h);
        HGDIOBJ old = SelectObject(dc, FFont);
        std::wstring text = to_wide(c.Caption());
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        SelectObject(dc, old);
        ReleaseDC(h, dc);
        b.width = size.cx + scale(2, FDpi); // the glyphs' overhang past the advance width
    }
    return b;
}

void Win32Backend::place(Control& c) {
    Bounds b = window_bounds(c);
    SetWindowPos(FHandles.at(&c), nullptr, b.left, b.top, b.width, b.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Backend::place_all() {
    for (Control* c : FForm->controls()) {
        SendMessageW(FHandles.at(c), WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
        place(*c);
    }
}

// IsDialogMessageW tabs in z-order: sort each parent's children by tab order.
void Win32Backend::set_tab_order() {
    std::vector<Control*> all(FForm->controls().begin(), FForm->controls().end());
    std::stable_sort(all.begin(), all.end(), [](Control* a, Control* b) {
        auto key = [](Control* c) { return c->tab_order < 0 ? 1000 : c->tab_order; };
        return key(a) < key(b);
    });
    std::map<Control*, HWND> last;
    for (Control* c : all) {
        HWND h = FHandles.at(c);
        auto it = last.find(c->Parent());
        HWND after = it == last.end() ? HWND_TOP : it->second;
        SetWindowPos(h, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        last[c->Parent()] = h;
    }
}

void Win32Backend::create_window(Form& form) {
    FForm = &form;
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    const DWORD ex = WS_EX_CONTROLPARENT | (form.taskbar_button ? WS_EX_APPWINDOW : 0);
    FWindow = CreateWindowExW(ex, kWindowClass, to_wide(form.caption).c_str(), style, CW_USEDEFAULT,
                              CW_USEDEFAULT, form.client_width, form.client_height, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    FDpi = window_dpi(FWindow);
    HDC dc = GetDC(FWindow);
    FPacer.set_refresh_rate(GetDeviceCaps(dc, VREFRESH));
    ReleaseDC(FWindow, dc);
    make_font();
    RECT rc{0, 0, scale(form.client_width, FDpi), scale(form.client_height, FDpi)};
    adjust_window_rect(&rc, style, ex, FDpi);
    SetWindowPos(FWindow, nullptr, 0, 0, rc.right - rc.left, rc.bottom - rc.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    int id = kFirstControlId;
    for (Control* c : form.controls()) {
        HWND parent = c->Parent() ? FHandles.at(c->Parent()) : FWindow;
        FHandles[c] = make_control(*c, parent, id++);
    }
    for (Control* c : form.controls())
        draw(*c);
    set_tab_order();
}

// Texts and positions of the bar and the labels are paced; a change of
// enabled or visible state is drawn at once, with the latest text.
void Win32Backend::update(Control& c) {
    HWND h = handle(c);
    if (!h) return;
    const bool shown = (GetWindowLongW(h, GWL_STYLE) & WS_VISIBLE) != 0;
    if (FramePacer::paces(c) && (IsWindowEnabled(h) != FALSE) == c.Enabled() && shown == c.Visible())
        FPacer.changed(c);
    else
        draw(c);
}

void Win32Backend::draw(Control& c) {
    HWND h = handle(c);
    if (!h) return;
    switch (c.Kind()) {
    case ControlKind::Button:
    case ControlKind::Label:
    case ControlKind::Edit: {
        std::wstring text = to_wide(c.Text());
        int n = GetWindowTextLengthW(h);
        std::wstring current(static_cast<size_t>(n) + 1, L'\0');
        GetWindowTextW(h, current.data(), n + 1);
        current.resize(static_cast<size_t>(n));
        if (current != text) SetWindowTextW(h, text.c_str());
        break;
    }
    case ControlKind::ProgressBar:
        SendMessageW(h, PBM_SETRANGE32, static_cast<WPARAM>(c.Min()), static_cast<LPARAM>(c.Max()));
        SendMessageW(h, PBM_SETPOS, static_cast<WPARAM>(c.Position()), 0);
        break;
    case ControlKind::Memo: {
        std::string all;
        for (const std::string& line : c.Lines())
            all += (all.empty() ? "" : "\r\n") + line;
        SetWindowTextW(h, to_wide(all).c_str());
        break;
    }
    case ControlKind::Panel:
        break;
    }
    place(c);
    EnableWindow(h, c.Enabled());
    ShowWindow(h, c.Visible() ? SW_SHOWNA : SW_HIDE);
}

bool Win32Backend::on_command(WPARAM wp, LPARAM lp) {
    const int code = HIWORD(wp);
    if (lp == 0 && LOWORD(wp) == IDOK) {
        // Enter, turned into IDOK by IsDialogMessageW: the focused edit field's key press.
        Control* c = control_of(GetFocus());
        if (c && c->Kind() == ControlKind::Edit) FForm->deliver_key_press(*c, u'\r');
        return true;
    }
    Control* c = control_of(reinterpret_cast<HWND>(lp));
    if (!c) return false;
    if (c->Kind() == ControlKind::Button && code == BN_CLICKED) {
        FForm->deliver_click(*c);
        return true;
    }
    if (c->Kind() == ControlKind::Edit && code == EN_CHANGE) {
        HWND h = reinterpret_cast<HWND>(lp);
        int n = GetWindowTextLengthW(h);
        std::wstring text(static_cast<size_t>(n) + 1, L'\0');
        GetWindowTextW(h, text.data(), n + 1);
        text.resize(static_cast<size_t>(n));
        c->SetText(from_wide(text));
        return true;
    }
    return false;
}

LRESULT Win32Backend::on_window_message(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND:
        if (on_command(wp, lp)) return 0;
        break;
    case WM_CLOSE:
        // Closing asks for the end; the window goes when the event loop ends.
        FForm->deliver_close();
        return 0;
    case WM_TIMER:
        if (wp != kPaceTimer) break;
        KillTimer(hwnd, kPaceTimer);
        FPacer.draw_due();
        return 0;
    case WM_DPICHANGED: {
        FDpi = HIWORD(wp);
        make_font();
        place_all();
        const RECT* r = reinterpret_cast<const RECT*>(lp);
        SetWindowPos(hwnd, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (g_backend) return g_backend->on_window_message(hwnd, msg, wp, lp);
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK panel_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND:
        if (g_backend && g_backend->on_command(wp, lp)) return 0;
        break;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT rc;
        GetClientRect(hwnd, &rc);
        DrawEdge(dc, &rc, BDR_RAISEDINNER, BF_RECT);
        EndPaint(hwnd, &ps);
        return 0;
    }
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK edit_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
    if (msg == WM_CHAR && g_backend) {
        if (Control* c = g_backend->control_of(hwnd)) {
            char16_t key = g_backend->form().deliver_key_press(*c, static_cast<char16_t>(wp));
            if (key == 0) return 0;
            wp = key;
        }
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

} // namespace

std::unique_ptr<Backend> create_native_backend() {
    return std::make_unique<Win32Backend>();
}

} // namespace kv::window
