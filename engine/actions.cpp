#include "engine/actions.h"

namespace plx {

void ShowActionMessage(HWND owner, BOOL quiet, const char* text, UINT icon) {
    if (IsQuiet(quiet)) return;
    MessageBoxA(owner, text, kMessageCaption, MB_OK | icon);
}

}  // namespace plx
