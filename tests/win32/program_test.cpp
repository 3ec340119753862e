// The program as a whole: the paint on screen, its use of GDI objects, the start-up
// sequence and the end of the process.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/shell_win32.h"
#include "capture/dso_structure.h"
#include "display/gdi_canvas_win32.h"
#include "display/paint.h"
#include "display/view_range.h"
#include "hardware/port.h"
#include "simulator/simulated_device.h"
#include "win32/ui_support.h"

namespace {

constexpr COLORREF WHITE = RGB(255, 255, 255);
constexpr COLORREF RED = RGB(255, 0, 0);
constexpr COLORREF BLUE = RGB(0, 0, 255);

class Paint : public ::testing::Test {
protected:
    simulated_device device;
    HWND window = nullptr;
    void SetUp() override {
        window = open_main_window(&device);
        ASSERT_NE(window, nullptr);
        SetForegroundWindow(window);
    }
    void TearDown() override { close_main_window(window); }
};

// The start-up screen, drawn into a bitmap of the client's size through the GDI canvas.
TEST_F(Paint, TheStartUpScreenIsWhiteWithRedAxesOnTheMiddleOfEachTrace) {
    HDC screen = GetDC(window);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 640, 400);
    HGDIOBJ old = SelectObject(dc, bitmap);
    HGDIOBJ initial_pen = GetCurrentObject(dc, OBJ_PEN);
    {
        gdi_canvas surface(dc);
        paint_client(surface, 0, 0, 640, 400);
    }
    EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), initial_pen) << "the initial pen is selected back";
    for (POINT p : {POINT{0, 0}, POINT{639, 0}, POINT{0, 399}, POINT{639, 399}, POINT{300, 60}, POINT{630, 105}})
        EXPECT_EQ(GetPixel(dc, p.x, p.y), WHITE) << p.x << "," << p.y;
    // Dual Channel at 640 x 400: areas (75,20)-(620,190) and (75,210)-(620,380); the flat
    // traces at 128 lie under the red x axes at rows 105 and 295 (the axes end before
    // x_right, the min/max columns include it).
    for (int x = 75; x < 620; x += 17) {
        EXPECT_EQ(GetPixel(dc, x, 105), RED) << x;
        EXPECT_EQ(GetPixel(dc, x, 295), RED) << x;
        EXPECT_NE(GetPixel(dc, x, 104), BLUE) << x;
    }
    EXPECT_EQ(GetPixel(dc, 620, 105), BLUE);
    EXPECT_EQ(GetPixel(dc, 75, 20), RED) << "the analogue y axis";
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(window, screen);
}

// The window paints every pixel of its client area itself.
TEST_F(Paint, TheWindowPaintsItsWholeClientArea) {
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
    HDC dc = GetDC(window);
    EXPECT_EQ(GetPixel(dc, 1, 1), WHITE);
    EXPECT_EQ(GetPixel(dc, 638, 398), WHITE);
    EXPECT_EQ(GetPixel(dc, 300, 105), RED);
    EXPECT_EQ(GetPixel(dc, 300, 295), RED);
    ReleaseDC(window, dc);
}

// No GDI object survives a paint: a pen created after thousands of paints takes the same
// slot of the process's handle table as one created before them.
TEST_F(Paint, ThousandsOfPaintsLeaveNoGdiObjectBehind) {
    dso_structure.capture_mode = MODE_MIXED;
    HPEN before = CreatePen(PS_SOLID, 1, 0);
    DeleteObject(before);
    for (int i = 0; i < 2000; ++i) {
        InvalidateRect(window, nullptr, TRUE);
        UpdateWindow(window);
    }
    HPEN after = CreatePen(PS_SOLID, 1, 0);
    DeleteObject(after);
    auto slot = [](HPEN pen) { return static_cast<long>(reinterpret_cast<uintptr_t>(pen) & 0xFFFF); };
    EXPECT_LT(std::labs(slot(after) - slot(before)), 64) << "2000 paints would leak thousands of slots";
}

// Ends the process through the program's own message loop, once its main window is up; the
// note on stderr proves that the window was found.
bool post_to_main_window(UINT_PTR timer, const char* note, UINT message, WPARAM wparam) {
    HWND main = FindWindowA(MAIN_WINDOW_CLASS, "Korvane");
    if (main == nullptr) return false;
    KillTimer(nullptr, timer);
    fprintf(stderr, "main window found, %s\n", note);
    fflush(stderr);
    PostMessageA(main, message, wparam, 0);
    return true;
}
void CALLBACK exit_through_menu(HWND, UINT, UINT_PTR timer, DWORD) {
    post_to_main_window(timer, "Exit chosen", WM_COMMAND, CMD_EXIT);
}
void CALLBACK exit_through_close_box(HWND, UINT, UINT_PTR timer, DWORD) {
    post_to_main_window(timer, "close box pressed", WM_SYSCOMMAND, SC_CLOSE);
}

// Runs the whole program with the simulated device until the timer ends it.
void run_program_until(TIMERPROC ender) {
    static simulated_device device;
    program_bus_for_tests = &device;
    SetTimer(nullptr, 0, 20, ender);
    program_main(app_instance, SW_SHOWNORMAL);
}

TEST(ProgramDeathTest, ExitAndTheCloseBoxEndWithStatusZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(run_program_until(exit_through_menu), ::testing::ExitedWithCode(0), "main window found, Exit chosen");
    EXPECT_EXIT(run_program_until(exit_through_close_box), ::testing::ExitedWithCode(0),
                "main window found, close box pressed");
}

TEST(ProgramDeathTest, APortThatIsNotBidirectionalEndsTheStartWithStatusTen) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            static simulated_device device;
            device.set_failure(sim_failure::no_turnaround);
            program_bus_for_tests = &device;
            run_with_dialogs([] { program_main(app_instance, SW_SHOWNORMAL); },
                             {[](HWND box) {
                                 message_box_seen seen = answer_message_box(box);
                                 bool no_window = FindWindowA(MAIN_WINDOW_CLASS, nullptr) == nullptr;
                                 std::string text = seen.text;
                                 for (char& c : text)
                                     if (c == '\n') c = '/';
                                 fprintf(stderr, "box [%s] %s icon %d window %d\n", seen.caption.c_str(),
                                         text.c_str(), static_cast<int>(seen.icon), no_window ? 0 : 1);
                                 fflush(stderr);
                                 return true;
                             }});
        },
        ::testing::ExitedWithCode(10),
        "box .Fatal Error - Program Halted. Error Infomation:-/ *Error : Parallel Port NOT Bi-Directional/"
        "    Error Level : 10/    In Function : Main/Additional Info :  icon 2 window 0");
}

}  // namespace
