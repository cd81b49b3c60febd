// Drives the module's dialogs as a user would, from a thread other than the one that runs them: finds
// a dialog by its caption, reads and sets its controls, presses its buttons and keys. Every wait polls
// for the window or state it needs; nothing sleeps a fixed time.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace testbed {

// Texts are UTF-8, as everywhere in the product.
//
// The visible dialog (class "#32770") with this caption, once it has appeared; null after timeoutMs.
HWND WaitForDialog(const char* caption, DWORD timeoutMs = 10000);
// Waits until the window is gone.
bool WaitForClosed(HWND window, DWORD timeoutMs = 10000);

std::string ControlText(HWND dialog, int id);
// Replaces the control's text, as typing over a selected text would.
void SetControlText(HWND dialog, int id, const std::string& text);
// The strings of a combo box's list, in list order, and the index of the selected one (CB_ERR: none).
std::vector<std::string> ComboItems(HWND dialog, int id);
int ComboSelection(HWND dialog, int id);

// Presses a button: posts BM_CLICK, so a message box that the press opens does not block the caller.
void Press(HWND dialog, int id);
// Brings the dialog to the foreground and presses and releases a key on the keyboard.
void PressKey(HWND dialog, UINT virtualKey);
// Moves the mouse pointer to a point of the window's client area, and presses the left button there,
// with real mouse input.
void MoveMouse(HWND window, POINT client);
void ClickMouse(HWND window, POINT client);
// Presses the left button at one point of the window's client area, moves to another and lets go.
void DragMouse(HWND window, POINT from, POINT to);
// The window with the keyboard focus in the dialog's thread.
HWND FocusOf(HWND dialog);
// The screen's DPI, and the DPI that the run was started for (PLAXEN_TEST_DPI, set by
// scripts/at_dpi.sh; 96 when not set).
UINT ScreenDpi();
UINT WantedDpi();
// Client-area pixels of a window as they are on the screen, row by row.
std::vector<COLORREF> ReadPixels(HWND window, int& width, int& height);

// Runs a call that opens a modal window on a thread of its own, so the test thread is free to drive it.
class ModalCall {
public:
    explicit ModalCall(std::function<INT_PTR()> call);
    ~ModalCall();
    ModalCall(const ModalCall&) = delete;
    ModalCall& operator=(const ModalCall&) = delete;

    // Waits for the call to return; false when it did not within timeoutMs.
    bool Finished(DWORD timeoutMs = 10000);
    INT_PTR Result() const { return result_; }

private:
    std::atomic<bool> done_{false};
    std::atomic<DWORD> threadId_{0};
    INT_PTR result_ = 0;
    std::thread thread_;
};

}  // namespace testbed
