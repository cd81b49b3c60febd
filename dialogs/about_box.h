// The borderless About box: the product picture with the version line drawn over it, and a link to
// the maker's web site in its lower right corner. Any press, Enter, Esc or a loss of focus closes it.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <string>

#include "dialogs/dialog.h"
#include "win32/unique.h"

namespace plx {

inline constexpr char kMakerWebAddress[] = "https://www.quillmar.example/orvane/";

// In the box's client coordinates at 96 DPI, right and bottom edges excluded; the box scales them, as
// its picture, by its DPI.
inline constexpr RECT kVersionLineRect = {38, 214, 463, 245};
inline constexpr RECT kLinkAreaRect = {357, 295, 462, 332};

class AboutBox : public Dialog {
public:
    AboutBox();
    ~AboutBox() override;
    INT_PTR Run(HWND owner) { return RunModal(owner, 0); }

private:
    enum CursorState { ArrowCursor = 0, SharedHandCursor = 1, OwnHandCursor = 2 };

    BOOL OnInitDialog(LPARAM initParam) override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void LoadPicture();
    // The picture's bitmap and its size; null when the picture has none.
    HBITMAP PictureBitmap(BITMAP& size) const;
    RECT Scaled(const RECT& rect) const;
    HFONT VersionFont();
    void Paint(HDC dc);
    void UpdateCursor(POINT point);
    void RestoreArrow();

    ComPtr<IPicture> picture_;
    std::wstring versionText_;
    // Made only when the dialog has no font of its own, for the DPI it was made for.
    unique_hfont ownFont_;
    UINT ownFontDpi_ = 0;
    CursorState cursorState_ = ArrowCursor;
};

}  // namespace plx
