#include "tests/support/dialog_driver.h"

#include <cstdlib>

#include "testbed/testbed.h"
#include "win32/wide_text.h"

namespace testbed {

HWND WaitForDialog(const char* caption, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            found = FindWindowW(L"#32770", plx::ToWide(caption).c_str());
            return found && IsWindowVisible(found);
        },
        timeoutMs);
    return found && IsWindowVisible(found) ? found : nullptr;
}

bool WaitForClosed(HWND window, DWORD timeoutMs) {
    return WaitUntil([&] { return !IsWindow(window); }, timeoutMs);
}

std::string ControlText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    const auto length = SendMessageW(control, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    return plx::ToUtf8(text.c_str());
}

void SetControlText(HWND dialog, int id, const std::string& text) {
    SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(plx::ToWide(text).c_str()));
}

std::vector<std::string> ComboItems(HWND dialog, int id) {
    HWND box = GetDlgItem(dialog, id);
    std::vector<std::string> items;
    const auto count = SendMessageW(box, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const auto length = SendMessageW(box, CB_GETLBTEXTLEN, i, 0);
        std::wstring item(static_cast<size_t>(length) + 1, L'\0');
        SendMessageW(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&item[0]));
        items.push_back(plx::ToUtf8(item.c_str()));
    }
    return items;
}

int ComboSelection(HWND dialog, int id) {
    return static_cast<int>(SendMessageA(GetDlgItem(dialog, id), CB_GETCURSEL, 0, 0));
}

void Press(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

HWND FocusOf(HWND dialog) {
    GUITHREADINFO info = {sizeof(info)};
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

void PressKey(HWND dialog, UINT virtualKey) {
    // Real keyboard input, as the system turns it into messages: F1 becomes WM_HELP only on that road.
    WaitUntil([&] {
        SetForegroundWindow(dialog);
        return GetForegroundWindow() == dialog;
    });
    INPUT keys[2] = {};
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = static_cast<WORD>(virtualKey);
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof(INPUT));
}

namespace {
INPUT MouseAt(HWND window, POINT client, DWORD flags) {
    ClientToScreen(window, &client);
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(client.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = MulDiv(client.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | flags;
    return input;
}
}  // namespace

void MoveMouse(HWND window, POINT client) {
    INPUT input = MouseAt(window, client, 0);
    SendInput(1, &input, sizeof(input));
}

void ClickMouse(HWND window, POINT client) {
    INPUT inputs[2] = {MouseAt(window, client, MOUSEEVENTF_LEFTDOWN),
                       MouseAt(window, client, MOUSEEVENTF_LEFTUP)};
    SendInput(2, inputs, sizeof(INPUT));
}

void DragMouse(HWND window, POINT from, POINT to) {
    INPUT inputs[3] = {MouseAt(window, from, MOUSEEVENTF_LEFTDOWN), MouseAt(window, to, 0),
                       MouseAt(window, to, MOUSEEVENTF_LEFTUP)};
    SendInput(3, inputs, sizeof(INPUT));
}

UINT ScreenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return static_cast<UINT>(dpi);
}

UINT WantedDpi() {
    char text[16] = {};
    if (!GetEnvironmentVariableA("PLAXEN_TEST_DPI", text, sizeof(text))) return 96;
    return static_cast<UINT>(std::strtoul(text, nullptr, 10));
}

std::vector<COLORREF> ReadPixels(HWND window, int& width, int& height) {
    RECT client = {};
    GetClientRect(window, &client);
    width = client.right;
    height = client.bottom;
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    std::vector<COLORREF> pixels;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> raw(static_cast<size_t>(width) * height);
    SelectObject(memory, old);
    GetDIBits(memory, bitmap, 0, height, raw.data(), &info, DIB_RGB_COLORS);
    for (DWORD bgr : raw) pixels.push_back(RGB((bgr >> 16) & 0xFF, (bgr >> 8) & 0xFF, bgr & 0xFF));
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

ModalCall::ModalCall(std::function<INT_PTR()> call)
    : thread_([this, call = std::move(call)] {
          threadId_ = GetCurrentThreadId();
          result_ = call();
          done_ = true;
      }) {}

namespace {
BOOL CALLBACK CloseWindow(HWND window, LPARAM) {
    PostMessageA(window, WM_CLOSE, 0, 0);
    return TRUE;
}
}  // namespace

ModalCall::~ModalCall() {
    if (!thread_.joinable()) return;
    // A test that failed half-way leaves its windows open: close them, as a user would, rather than
    // hang; a thread that still does not return is left behind.
    WaitUntil([&] {
        if (!done_) EnumThreadWindows(threadId_, CloseWindow, 0);
        return done_.load();
    });
    if (done_)
        thread_.join();
    else
        thread_.detach();
}

bool ModalCall::Finished(DWORD timeoutMs) {
    if (!WaitUntil([&] { return done_.load(); }, timeoutMs)) return false;
    thread_.join();
    return true;
}

}  // namespace testbed
