// Benchmark helper for Windows (run by scripts/bench/http-download-window
// under Wine, not a test): the least a window that shows a download's
// progress must ask of the system, without any of our code. It shows a
// window, sends one GET, receives the answer the way the HTTP client does
// (receives of up to 32 KiB bounded by the socket's time limit, each written
// to the file whole) and, with "pump", looks at the window's message queue
// once per 32 KiB step as DownloadFile's progress handler does. Without
// "pump" it only receives. Prints the seconds from the request to the end.
//   receive_pump_bench HOST PORT PATH FILE [pump]
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: receive_pump_bench HOST PORT PATH FILE [pump]\n");
        return 2;
    }
    const bool pump = argc > 5 && std::strcmp(argv[5], "pump") == 0;
    constexpr size_t kReceive = 32768, kStep = 32768;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;
    HWND window = CreateWindowExW(0, L"STATIC", L"receive_pump_bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 400, 200, nullptr, nullptr, nullptr, nullptr);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(std::atoi(argv[2])));
    if (inet_pton(AF_INET, argv[1], &addr.sin_addr) != 1 ||
        connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::fprintf(stderr, "cannot connect: %d\n", WSAGetLastError());
        return 1;
    }
    DWORD limit = 60000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    HANDLE file =
        CreateFileA(argv[4], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    const auto start = std::chrono::steady_clock::now();
    const std::string request = std::string("GET ") + argv[3] + " HTTP/1.0\r\nHost: " + argv[1] + "\r\n\r\n";
    send(s, request.data(), static_cast<int>(request.size()), 0);
    std::vector<char> buffer(kReceive);
    std::string head; // until the empty line that ends it; the body goes to the file
    bool in_head = true;
    long long total = 0, receives = 0, pumps = 0;
    for (;;) {
        int n = recv(s, buffer.data(), static_cast<int>(buffer.size()), 0);
        if (n < 0) {
            std::fprintf(stderr, "receive failed: %d\n", WSAGetLastError());
            return 1;
        }
        if (n == 0) break;
        ++receives;
        const char* body = buffer.data();
        int body_size = n;
        if (in_head) {
            head.append(buffer.data(), static_cast<size_t>(n));
            const size_t end = head.find("\r\n\r\n");
            if (end == std::string::npos) continue;
            in_head = false;
            body_size = static_cast<int>(head.size() - end - 4);
            body = buffer.data() + (n - body_size);
        }
        DWORD written = 0;
        WriteFile(file, body, static_cast<DWORD>(body_size), &written, nullptr);
        total += body_size;
        for (size_t done = 0; pump && done < static_cast<size_t>(body_size); done += kStep) {
            MSG msg;
            ++pumps;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
        }
    }
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    CloseHandle(file);
    closesocket(s);
    DestroyWindow(window);
    std::printf("%.3f s, %lld body bytes, %lld receives, %lld pumps\n", secs, total, receives, pumps);
    return 0;
}
