// Processes on Windows: the Toolhelp snapshot (looked up in kernel32 at first
// use), OpenProcess/TerminateProcess, and the notification-area repaint.
#include "platform/processes.h"

#include "platform/unicode.h"

#include <windows.h>

#include <tlhelp32.h>

namespace kv::os {
namespace {

static_assert(sizeof(void*) != 4 || sizeof(PROCESSENTRY32W) == 556,
              "the entry size the 32-bit system expects");

using CreateSnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
using ProcessWalkFn = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32W*);

struct Toolhelp {
    CreateSnapshotFn create_snapshot = nullptr;
    ProcessWalkFn first = nullptr;
    ProcessWalkFn next = nullptr;
};

// GetProcAddress's generic pointer goes through void (*)(), the type that
// converts to any function pointer without a cast-function-type warning.
template <class F> F kernel32_function(HMODULE k, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(::GetProcAddress(k, name)));
}

const Toolhelp& toolhelp() {
    static const Toolhelp t = [] {
        Toolhelp r;
        if (HMODULE k = ::GetModuleHandleW(L"kernel32.dll")) {
            r.create_snapshot = kernel32_function<CreateSnapshotFn>(k, "CreateToolhelp32Snapshot");
            r.first = kernel32_function<ProcessWalkFn>(k, "Process32FirstW");
            r.next = kernel32_function<ProcessWalkFn>(k, "Process32NextW");
        }
        return r;
    }();
    return t;
}

} // namespace

std::optional<std::vector<ProcessEntry>> list_processes() {
    const Toolhelp& t = toolhelp();
    if (!t.create_snapshot || !t.first || !t.next) return std::nullopt;
    HANDLE snap = t.create_snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<ProcessEntry> out;
    PROCESSENTRY32W pe{};
    pe.dwSize = sizeof(pe);
    for (BOOL more = t.first(snap, &pe); more; more = t.next(snap, &pe)) {
        size_t n = 0;
        while (n < MAX_PATH && pe.szExeFile[n])
            ++n;
        out.push_back({pe.th32ProcessID, from_wide(std::wstring_view(pe.szExeFile, n))});
    }
    ::CloseHandle(snap);
    return out;
}

bool terminate_process(uint32_t id) {
    HANDLE h = ::OpenProcess(PROCESS_TERMINATE, FALSE, id);
    if (!h) return false;
    BOOL ok = ::TerminateProcess(h, 0);
    DWORD err = ::GetLastError();
    ::CloseHandle(h);
    ::SetLastError(err);
    return ok != FALSE;
}

bool wait_process_end(uint32_t id, uint32_t timeout_ms) {
    HANDLE h = ::OpenProcess(SYNCHRONIZE, FALSE, id);
    // The id no longer names a process: it has ended and its last handle is closed.
    if (!h) return ::GetLastError() == ERROR_INVALID_PARAMETER;
    DWORD r = ::WaitForSingleObject(h, timeout_ms);
    ::CloseHandle(h);
    return r == WAIT_OBJECT_0;
}

void repaint_notification_area() {
    HWND tray = ::FindWindowW(L"Shell_TrayWnd", nullptr);
    if (!tray) return;
    HWND area = ::FindWindowExW(tray, nullptr, L"TrayNotifyWnd", nullptr);
    if (!area) return;
    ::InvalidateRect(area, nullptr, TRUE);
    ::RedrawWindow(area, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

uint32_t current_process_id() {
    return ::GetCurrentProcessId();
}

} // namespace kv::os
