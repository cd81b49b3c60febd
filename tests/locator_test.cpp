// Finding the desktop list view in real window hierarchies built the way the shell builds them.
#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "engine/desktop_listview.h"

namespace {

class LocatorTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&icc);
        for (const char* name : {"Progman", "WorkerW", "SHELLDLL_DefView"}) {
            WNDCLASSA wc = {};
            wc.lpfnWndProc = DefWindowProcA;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.lpszClassName = name;
            RegisterClassA(&wc);
        }
    }

    void SetUp() override {
        // Nothing else on this desktop may look like a shell, or the results would be its.
        ASSERT_EQ(FindWindowA("Progman", nullptr), nullptr);
        ASSERT_EQ(FindWindowA("WorkerW", nullptr), nullptr);
    }

    void TearDown() override {
        // Children go with their parents; destroy top-level windows last-created first.
        for (auto it = topLevel_.rbegin(); it != topLevel_.rend(); ++it) DestroyWindow(*it);
    }

    HWND TopLevel(const char* cls) {
        HWND w = CreateWindowExA(0, cls, "", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
        EXPECT_NE(w, nullptr);
        topLevel_.push_back(w);
        return w;
    }
    static HWND Child(HWND parent, const char* cls) {
        HWND w = CreateWindowExA(0, cls, "", WS_CHILD, 0, 0, 50, 50, parent, nullptr, nullptr, nullptr);
        EXPECT_NE(w, nullptr);
        return w;
    }
    // A worker holding a view with a list view; returns the list view.
    HWND WorkerWithList() {
        HWND view = Child(TopLevel("WorkerW"), "SHELLDLL_DefView");
        return Child(view, WC_LISTVIEWA);
    }

    std::vector<HWND> topLevel_;
};

TEST_F(LocatorTest, FindsTheListViewBelowProgman) {
    HWND view = Child(TopLevel("Progman"), "SHELLDLL_DefView");
    HWND list = Child(view, WC_LISTVIEWA);
    EXPECT_EQ(plx::FindDesktopListView(), list);
}

TEST_F(LocatorTest, FirstChildOfTheViewDecidesAndWorkersAreNotTried) {
    WorkerWithList();
    HWND view = Child(TopLevel("Progman"), "SHELLDLL_DefView");
    // A header comes first; a list view after it does not count.
    Child(view, WC_HEADERA);
    Child(view, WC_LISTVIEWA);
    EXPECT_EQ(plx::FindDesktopListView(), nullptr);
}

TEST_F(LocatorTest, ProgmanWithChildlessFirstChildGivesNothing) {
    WorkerWithList();
    Child(TopLevel("Progman"), "SHELLDLL_DefView");
    EXPECT_EQ(plx::FindDesktopListView(), nullptr);
}

TEST_F(LocatorTest, ClassNamesAreComparedWithCase) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "syslistview32";
    RegisterClassA(&wc);
    HWND view = Child(TopLevel("Progman"), "SHELLDLL_DefView");
    Child(view, "syslistview32");
    EXPECT_EQ(plx::FindDesktopListView(), nullptr);
    UnregisterClassA("syslistview32", GetModuleHandleA(nullptr));
}

TEST_F(LocatorTest, ChildlessProgmanSendsTheSearchToALaterWorker) {
    TopLevel("Progman");
    HWND wanted = WorkerWithList();
    // Created afterwards, so they come first in the window order: a worker without a view and a
    // worker whose view has no list view must both be passed over.
    Child(TopLevel("WorkerW"), "SHELLDLL_DefView");
    TopLevel("WorkerW");
    HWND first = FindWindowExA(GetDesktopWindow(), nullptr, "WorkerW", nullptr);
    ASSERT_NE(first, GetParent(GetParent(wanted))) << "the holding worker must not be the first one";
    EXPECT_EQ(plx::FindDesktopListView(), wanted);
}

TEST_F(LocatorTest, WithoutProgmanTheWorkersAreSearched) {
    HWND wanted = WorkerWithList();
    TopLevel("WorkerW");
    EXPECT_EQ(plx::FindDesktopListView(), wanted);
}

TEST_F(LocatorTest, NothingToFind) {
    EXPECT_EQ(plx::FindDesktopListView(), nullptr);
    TopLevel("Progman");
    Child(TopLevel("WorkerW"), "SHELLDLL_DefView");
    EXPECT_EQ(plx::FindDesktopListView(), nullptr);
}

}  // namespace
