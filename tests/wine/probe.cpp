// A small Windows program the Wine tests run next to KVUpdate.exe, in the
// same Wine server, to read the real window's state and act on it from
// outside — so the product needs no test hook of its own.
//   probe list                 every visible top-level window and all its controls
//   probe click HWND           clicks a button (as the window system would)
//   probe close HWND           asks a top-level window to close
//   probe keys HWND ITEM...    brings HWND forward and types: each ITEM is
//                              literal text or one of {Enter} {Tab} {Esc} {Backspace}
//   probe processes            every process of the Wine server, oldest first
//   probe terminate PID NAME   ends the process PID if its program file is NAME
//   probe hold FILE            opens FILE as a program holds a library it has
//                              loaded (others may read it, not write it or
//                              delete it), says "held" and keeps it until ended
//   probe locale               the user locale as Windows programs see it
// Output is UTF-8, one line per window or process, tab-separated:
//   window HWND CLASS TITLE
//   control HWND PARENT CLASS TEXT VISIBLE ENABLED X,Y   (X,Y: screen centre)
//   process PID NAME CREATED                              (CREATED: FILETIME ticks)
//   locale NAME ACP UPPER_I     (the user locale's name, the ANSI code page, and
//                                "i" in upper case by the user locale's own rules)
#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <vector>

namespace {

std::string utf8(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

// Tabs and line breaks in a text would break the line format.
std::string field(const std::wstring& w) {
    std::string s = utf8(w);
    for (char& c : s)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return s;
}

// WM_GETTEXT rather than the cached caption, so an edit field's typed text is
// current; the time limit keeps a hung window from hanging the test.
std::wstring text_of(HWND h) {
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &len)) return {};
    std::wstring buf(len + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()),
                             SMTO_ABORTIFHUNG, 2000, &got))
        return {};
    buf.resize(got);
    return buf;
}

std::wstring class_of(HWND h) {
    wchar_t buf[256] = {};
    GetClassNameW(h, buf, 256);
    return buf;
}

unsigned long long id(HWND h) {
    return reinterpret_cast<unsigned long long>(h);
}

BOOL CALLBACK print_control(HWND h, LPARAM) {
    RECT r{};
    GetWindowRect(h, &r);
    std::printf("control\t%llu\t%llu\t%s\t%s\t%d\t%d\t%ld,%ld\n", id(h), id(GetParent(h)),
                field(class_of(h)).c_str(), field(text_of(h)).c_str(), IsWindowVisible(h) ? 1 : 0,
                IsWindowEnabled(h) ? 1 : 0, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    return TRUE;
}

BOOL CALLBACK print_window(HWND h, LPARAM) {
    if (!IsWindowVisible(h)) return TRUE;
    wchar_t title[1024] = {};
    GetWindowTextW(h, title, 1024);
    std::printf("window\t%llu\t%s\t%s\n", id(h), field(class_of(h)).c_str(), field(title).c_str());
    EnumChildWindows(h, print_control, 0);
    return TRUE;
}

HWND parse_hwnd(const wchar_t* s) {
    HWND h = reinterpret_cast<HWND>(static_cast<uintptr_t>(std::wcstoull(s, nullptr, 10)));
    if (!IsWindow(h)) {
        std::fprintf(stderr, "probe: no window %ls\n", s);
        std::exit(1);
    }
    return h;
}

INPUT key_input(WORD vk, WORD scan, DWORD flags) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = scan;
    in.ki.dwFlags = flags;
    return in;
}

void add_key(std::vector<INPUT>& out, WORD vk) {
    out.push_back(key_input(vk, 0, 0));
    out.push_back(key_input(vk, 0, KEYEVENTF_KEYUP));
}

void add_item(std::vector<INPUT>& out, const std::wstring& item) {
    static const struct {
        const wchar_t* name;
        WORD vk;
    } named[] = {
        {L"{Enter}", VK_RETURN}, {L"{Tab}", VK_TAB}, {L"{Esc}", VK_ESCAPE}, {L"{Backspace}", VK_BACK}};
    for (auto& n : named)
        if (item == n.name) return add_key(out, n.vk);
    for (wchar_t c : item) {
        out.push_back(key_input(0, c, KEYEVENTF_UNICODE));
        out.push_back(key_input(0, c, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
    }
}

int keys(HWND h, int argc, wchar_t** argv) {
    SetForegroundWindow(h);
    std::vector<INPUT> in;
    for (int i = 0; i < argc; ++i)
        add_item(in, argv[i]);
    // One event at a time with a pause: the window handles each before the next.
    for (auto& e : in) {
        if (SendInput(1, &e, sizeof(INPUT)) != 1) {
            std::fprintf(stderr, "probe: SendInput failed (%lu)\n", GetLastError());
            return 1;
        }
        Sleep(30);
    }
    return 0;
}

struct Process {
    DWORD id;
    std::wstring name;
    unsigned long long created;
};

// The creation time orders the programs a test saw started, whatever ids the
// Wine server handed out.
std::vector<Process> processes() {
    std::vector<Process> out;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return out;
    PROCESSENTRY32W e{};
    e.dwSize = sizeof e;
    for (BOOL ok = Process32FirstW(snap, &e); ok; ok = Process32NextW(snap, &e)) {
        FILETIME created{}, exited{}, kernel{}, user{};
        HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, e.th32ProcessID);
        if (h) {
            GetProcessTimes(h, &created, &exited, &kernel, &user);
            CloseHandle(h);
        }
        out.push_back(
            {e.th32ProcessID, e.szExeFile,
             (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime});
    }
    CloseHandle(snap);
    std::sort(out.begin(), out.end(),
              [](const Process& a, const Process& b) { return a.created < b.created; });
    return out;
}

int list_processes() {
    for (const Process& p : processes())
        std::printf("process\t%lu\t%s\t%llu\n", p.id, field(p.name).c_str(), p.created);
    return 0;
}

// Only a process that still runs the named program: a test never ends
// another that came to have the same id.
int terminate(const wchar_t* pid_text, const std::wstring& name) {
    DWORD pid = std::wcstoul(pid_text, nullptr, 10);
    for (const Process& p : processes()) {
        if (p.id != pid || lstrcmpiW(p.name.c_str(), name.c_str()) != 0) continue;
        HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        if (!h || !TerminateProcess(h, 1)) return 1;
        WaitForSingleObject(h, 10000);
        CloseHandle(h);
        return 0;
    }
    return 0;
}

int hold(const wchar_t* file) {
    HANDLE h = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "probe: cannot open %ls (%lu)\n", file, GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(INFINITE);
    return 0;
}

// What makes a locale Turkish for the programs: its name, code page 1254 and
// the dotted capital I of its linguistic casing.
int print_locale() {
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = L"";
    if (!GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH)) return 1;
    wchar_t upper[8] = L"";
    if (!LCMapStringEx(name, LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING, L"i", 1, upper, 7, nullptr, nullptr,
                       0))
        return 1;
    std::printf("locale\t%s\t%u\t%s\n", utf8(name).c_str(), GetACP(), utf8(upper).c_str());
    return 0;
}

int usage() {
    std::fprintf(stderr, "usage: probe list | click HWND | close HWND | keys HWND ITEM... | processes | "
                         "terminate PID NAME | hold FILE | locale\n");
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2) return usage();
    std::wstring cmd = argv[1];
    if (cmd == L"list" && argc == 2) {
        EnumWindows(print_window, 0);
        return 0;
    }
    if (cmd == L"processes" && argc == 2) return list_processes();
    if (cmd == L"terminate" && argc == 4) return terminate(argv[2], argv[3]);
    if (cmd == L"hold" && argc == 3) return hold(argv[2]);
    if (cmd == L"locale" && argc == 2) return print_locale();
    if (argc < 3) return usage();
    HWND h = parse_hwnd(argv[2]);
    if (cmd == L"click" && argc == 3) return PostMessageW(h, BM_CLICK, 0, 0) ? 0 : 1;
    if (cmd == L"close" && argc == 3) return PostMessageW(h, WM_CLOSE, 0, 0) ? 0 : 1;
    if (cmd == L"keys") return keys(h, argc - 3, argv + 3);
    return usage();
}
