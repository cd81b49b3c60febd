// The system's progress dialog for long moves of hidden items between volumes, with its Cancel button.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "store/moves.h"
#include "win32/unique.h"

namespace plx {

// From this many bytes to copy a batch takes more than a moment, and the dialog is shown.
inline constexpr ULONGLONG kLongMoveBytes = 64ull << 20;

// Shown from Begin when the batch copies at least kLongMoveBytes, until the object goes. Without COM on
// the thread, or without the system's dialog, the moves run without one and cannot be stopped.
class MoveProgressDialog : public MoveProgress {
public:
    explicit MoveProgressDialog(HWND owner) : owner_(owner) {}
    MoveProgressDialog(const MoveProgressDialog&) = delete;
    MoveProgressDialog& operator=(const MoveProgressDialog&) = delete;
    ~MoveProgressDialog();

    void Begin(ULONGLONG totalBytes) override;
    void Item(const std::string& path) override;
    bool Advance(ULONGLONG bytes) override;

private:
    HWND owner_;
    ComPtr<IProgressDialog> dialog_;
    ULONGLONG total_ = 0;
    ULONGLONG done_ = 0;
};

}  // namespace plx
