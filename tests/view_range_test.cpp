#include <gtest/gtest.h>

#include <cstdint>

#include "capture/dso_structure.h"
#include "display/view_range.h"

namespace {

class ViewRange : public ::testing::Test {
protected:
    void SetUp() override {
        saved_mode = dso_structure.capture_mode;
        dso_structure.capture_mode = MODE_DUAL;
        set_display_defaults();
        reset_view_range();
    }
    void TearDown() override {
        dso_structure.capture_mode = saved_mode;
        set_display_defaults();
        reset_view_range();
    }
    static void zoom_pan_from(int32_t start, int32_t end, int command) {
        view_start = start;
        view_end = end;
        zoom_pan_range(command);
    }
    int8_t saved_mode = MODE_DUAL;
};

void expect_range(int32_t start, int32_t end) {
    int32_t s = -1, e = -1;
    get_view_range(s, e);
    EXPECT_EQ(s, start);
    EXPECT_EQ(e, end);
}

TEST_F(ViewRange, DefaultsAndTheLastIndexOfEachMode) {
    display_preferences = {0, 1, 0, 0};
    set_display_defaults();
    EXPECT_EQ(display_preferences.allow_zoom_while_panning, 1);
    EXPECT_EQ(display_preferences.show_time_on_x_axis, 0);
    EXPECT_EQ(display_preferences.show_pretrigger_position, 1);
    EXPECT_EQ(display_preferences.show_trigger_level, 1);

    const int8_t modes[] = {MODE_DUAL, MODE_SINGLE, MODE_LOGIC16, MODE_MIXED, 4, -1};
    const int32_t lasts[] = {0x5FFFF, 0xBFFFF, 0x5FFFF, 0x5FFFF, 0x5FFFF, 0x5FFFF};
    for (int k = 0; k < 6; ++k) {
        dso_structure.capture_mode = modes[k];
        EXPECT_EQ(last_sample_index(), lasts[k]) << int(modes[k]);
        view_start = 17;
        reset_view_range();
        expect_range(0, lasts[k]);
    }
}

TEST_F(ViewRange, SetClampsTheEndsAndRejectsAnEmptyOrReversedRange) {
    EXPECT_EQ(set_view_range(-5, 999999), 1);
    expect_range(0, 393215);
    dso_structure.capture_mode = MODE_SINGLE;
    EXPECT_EQ(set_view_range(10, 999999), 1);
    expect_range(10, 786431);

    EXPECT_EQ(set_view_range(500, 500), 0);
    EXPECT_EQ(set_view_range(501, 500), 0);
    EXPECT_EQ(set_view_range(5, -3), 0);              // end taken as 0
    EXPECT_EQ(set_view_range(786431, INT32_MAX), 0);  // start is not limited from above
    expect_range(10, 786431);
    EXPECT_EQ(set_view_range(INT32_MIN, 1), 1);
    expect_range(0, 1);
}

TEST_F(ViewRange, WorkedZoomAndPanResults) {
    struct {
        int32_t start, end;
        int command;
        int32_t allowed_start, allowed_end;  // allow_zoom_while_panning set
        int32_t kept_start, kept_end;        // and cleared
    } cases[] = {
        {0, 393215, ZOOM_IN, 78643, 314572, 78643, 314572},
        {0, 393215, ZOOM_OUT, 0, 393215, 0, 393215},
        {1000, 2000, PAN_LEFT, 800, 1800, 800, 1800},
        {1000, 2000, PAN_RIGHT, 1200, 2200, 1200, 2200},
        {1000, 2000, ZOOM_OUT, 800, 2200, 800, 2200},
        {100, 1100, PAN_LEFT, 0, 900, 0, 1000},
        {0, 1000, PAN_LEFT, 0, 800, 0, 1000},
        {393000, 393215, PAN_RIGHT, 393043, 393215, 393000, 393215},
        {392215, 393215, PAN_RIGHT, 392415, 393215, 392215, 393215},
        {50, 52, ZOOM_IN, 50, 52, 50, 52},  // step 1 empties the range, repaired
        {50, 53, ZOOM_IN, 51, 52, 51, 52},
        {50, 54, ZOOM_IN, 51, 53, 51, 53},
        {50, 51, ZOOM_IN, 50, 51, 50, 51},
        {0, 1, ZOOM_IN, 0, 1, 0, 1},
        {393214, 393215, ZOOM_IN, 393214, 393215, 393214, 393215},
        {0, 4, PAN_LEFT, 0, 3, 0, 4},
    };
    for (const auto& c : cases) {
        for (int allow = 1; allow >= 0; --allow) {
            display_preferences.allow_zoom_while_panning = allow;
            zoom_pan_from(c.start, c.end, c.command);
            SCOPED_TRACE(testing::Message() << "[" << c.start << ", " << c.end << "] command " << c.command
                                            << " allow " << allow);
            if (allow)
                expect_range(c.allowed_start, c.allowed_end);
            else
                expect_range(c.kept_start, c.kept_end);
        }
    }
}

TEST_F(ViewRange, ZoomAndPanLeaveAnUnknownCommandAlone) {
    zoom_pan_from(100, 200, 4);
    expect_range(100, 200);
    zoom_pan_from(100, 200, -1);
    expect_range(100, 200);
}

TEST_F(ViewRange, ARangeLeftBeyondAShorterModeStaysOutOfReachOfTheBuffers) {
    dso_structure.capture_mode = MODE_SINGLE;
    ASSERT_EQ(set_view_range(600000, 700000), 1);
    dso_structure.capture_mode = MODE_LOGIC16;
    // Zoom clamps the end but not the start: the stored range ends up reversed.
    zoom_pan_range(ZOOM_IN);
    expect_range(619999, 393215);
    // The paint shows the last two samples and leaves the stored range alone.
    sample_range shown = range_to_paint();
    EXPECT_EQ(shown.start, 393214);
    EXPECT_EQ(shown.end, 393215);
    expect_range(619999, 393215);
    reset_view_range();
    expect_range(0, 393215);
}

TEST_F(ViewRange, ZoomAndPanOnAnyStoredValuesStayWithin32Bits) {
    const int32_t values[] = {INT32_MIN, -1, 0, 1, 393215, 786431, INT32_MAX};
    for (int32_t s : values)
        for (int32_t e : values)
            for (int command = ZOOM_IN; command <= PAN_LEFT; ++command)
                for (int allow = 0; allow <= 1; ++allow) {
                    display_preferences.allow_zoom_while_panning = allow;
                    zoom_pan_from(s, e, command);
                    EXPECT_LE(view_end, 393215);
                    EXPECT_GE(view_end, 0);
                    EXPECT_GE(view_start, 0);
                }
    // The widest possible stored range zooms out to the whole capture.
    zoom_pan_from(INT32_MIN, INT32_MAX, ZOOM_OUT);
    expect_range(0, 393215);
    // A start pushed past the 32-bit limit stops there instead of wrapping round.
    display_preferences.allow_zoom_while_panning = 1;
    zoom_pan_from(INT32_MAX, INT32_MIN, ZOOM_OUT);
    expect_range(INT32_MAX, 1);
}

TEST_F(ViewRange, LimitRangeKeepsAValidRangeAndRepairsTheRest) {
    struct {
        int32_t start, end, last, shown_start, shown_end;
    } cases[] = {
        {0, 393215, 393215, 0, 393215},   {10, 20, 393215, 10, 20},
        {10, 786431, 393215, 10, 393215}, {600000, 700000, 393215, 393214, 393215},
        {-50, -10, 393215, 0, 1},         {300, 300, 393215, 300, 301},
        {400, 300, 393215, 400, 401},     {INT32_MIN, INT32_MAX, 786431, 0, 786431},
        {393215, 393215, 393215, 393214, 393215},
    };
    for (const auto& c : cases) {
        sample_range r = limit_range(c.start, c.end, c.last);
        EXPECT_EQ(r.start, c.shown_start) << c.start << ".." << c.end;
        EXPECT_EQ(r.end, c.shown_end) << c.start << ".." << c.end;
    }
}

}  // namespace
