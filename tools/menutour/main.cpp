// menutour OUTDIR: shows what the product does on the stand-in desktop, as a user would do it, for
// scripts/run.sh. The module must be registered. Starts the stand-in desktop, opens its right-click
// menu with the product's submenu, saves the layout from the menu, scrambles the icons and restores
// them from the menu; writes a screenshot of each stage into OUTDIR (menu.bmp, saved.bmp,
// scrambled.bmp, restored.bmp) and prints each step. Exit code 0 when every step worked.
#include <windows.h>

#include <cstdio>
#include <string>

#include "testbed/desktop_host_process.h"
#include "testbed/testbed.h"

namespace {

// Has the desktop process paint what is waiting to be painted: its desktop and its open menus.
void SettlePainting(const testbed::DesktopHostProcess& host) {
    RedrawWindow(host.Progman(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    for (HWND menu = FindWindowExA(nullptr, nullptr, "#32768", nullptr); menu;
         menu = FindWindowExA(nullptr, menu, "#32768", nullptr))
        if (IsWindowVisible(menu)) RedrawWindow(menu, nullptr, nullptr, RDW_UPDATENOW);
}

bool WriteScreenshot(const testbed::DesktopHostProcess& host, const std::string& path) {
    SettlePainting(host);
    return testbed::WriteScreenBitmap(path);
}

bool Step(bool done, const char* what) {
    std::printf("%s %s\n", done ? "done:  " : "FAILED:", what);
    std::fflush(stdout);
    return done;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: menutour OUTDIR\n");
        return 2;
    }
    const std::string out = argv[1];
    testbed::DesktopHostProcess host;
    if (!Step(host.Start(), "the stand-in desktop started")) return 1;
    testbed::HostReport icons;
    if (!Step(testbed::WaitUntil([&] { return host.Report(icons) && !icons.icons.empty(); }),
              "its icons shown"))
        return 1;
    const POINT background = {900, 650};
    bool shot = false;
    if (!Step(host.PickFromMenu(background, "Save Active Profile",
                                [&] { shot = WriteScreenshot(host, out + "\\menu.bmp"); }),
              "right-click, \"Quillmar Orvane Deluxe\", \"Save Active Profile\"") ||
        !Step(shot, "screenshot of the menu with its submenu open: menu.bmp"))
        return 1;
    if (!Step(WriteScreenshot(host, out + "\\saved.bmp"), "screenshot of the saved layout: saved.bmp"))
        return 1;
    int i = 0;
    for (const testbed::IconState& icon : icons.icons) {
        host.MoveIcon(icon.label, 180 + (i * 331) % 900, 160 + (i * 197) % 620);
        ++i;
    }
    if (!Step(WriteScreenshot(host, out + "\\scrambled.bmp"), "icons scrambled; screenshot: scrambled.bmp"))
        return 1;
    if (!Step(host.PickFromMenu(background, "Restore Icon Positions"),
              "right-click, \"Quillmar Orvane Deluxe\", \"Restore Icon Positions\""))
        return 1;
    testbed::HostReport restored;
    bool same = host.Report(restored);
    for (const testbed::IconState& icon : icons.icons) {
        const testbed::IconState* now = restored.Find(icon.label);
        same = same && now && now->x == icon.x && now->y == icon.y;
    }
    Step(same, "every icon back where it was saved");
    if (!Step(WriteScreenshot(host, out + "\\restored.bmp"),
              "screenshot of the restored layout: restored.bmp"))
        return 1;
    host.Stop();
    return same ? 0 : 1;
}
