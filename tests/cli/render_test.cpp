// korvane-cli render: the cairo canvas puts lines on the pixels GDI covers, the sizes the
// window cannot have are refused, and a picture that cannot be written leaves the old file.
#include <gtest/gtest.h>

#include <cairo.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <utility>

#include "capture/dso_file.h"
#include "capture/dso_structure.h"
#include "services/canvas_cairo.h"
#include "cli/terminal.h"
#include "cli/render_command.h"
#include "support/temp_dir.h"

namespace {

using pixel_set = std::set<std::pair<int, int>>;

constexpr int W = 64, H = 48;

// Draws on a white picture of W x H with a blue pen and returns the blue pixels.
template <typename drawing>
pixel_set blue_pixels(drawing draw) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, W, H);
    cairo_t* cr = cairo_create(surface);
    {
        cairo_canvas c(cr, W, H, slanted_lines::pixels);
        c.select_new_pen(COLOUR_WHITE);
        c.fill_background(0, 0, W, H);
        c.select_new_pen(COLOUR_BLUE);
        draw(c);
        c.flush();
    }
    EXPECT_EQ(cairo_status(cr), CAIRO_STATUS_SUCCESS);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    pixel_set blue;
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const uint32_t p = *reinterpret_cast<const uint32_t*>(data + y * stride + x * 4) & 0xFFFFFF;
            if (p == 0x0000FF)
                blue.insert({x, y});
            else
                EXPECT_EQ(p, 0xFFFFFFu) << x << "," << y;
        }
    cairo_surface_destroy(surface);
    return blue;
}

TEST(CairoCanvas, LinesTakeTheirStartPixelAndNotTheirEnd) {
    const line_segment lines[] = {
        {2, 3, 6, 3},      // right: 2..5
        {6, 5, 2, 5},      // left: 3..6
        {10, 2, 10, 5},    // down: 2..4
        {12, 5, 12, 2},    // up: 3..5
        {20, 20, 20, 20},  // nothing
        {30, 10, 34, 11},  // slanted: a tie half way goes to the upper row
        {30, 20, 34, 19},
    };
    const pixel_set blue = blue_pixels([&](canvas& c) { c.draw_segments(lines, 7); });
    const pixel_set expected = {{2, 3},  {3, 3},  {4, 3},  {5, 3},  {3, 5},  {4, 5},  {5, 5},  {6, 5},
                                {10, 2}, {10, 3}, {10, 4}, {12, 3}, {12, 4}, {12, 5}, {30, 10}, {31, 10},
                                {32, 10}, {33, 11}, {30, 20}, {31, 20}, {32, 19}, {33, 19}};
    EXPECT_EQ(blue, expected);
}

TEST(CairoCanvas, RunsJoinedIntoStrokesCoverExactlyTheirPixels) {
    // Rows and columns touching, overlapping and crossing the edges, as the column marks and
    // steps of the logic lanes draw them.
    std::mt19937 random(7);
    auto coordinate = [&](int size) { return static_cast<int>(random() % (size + 8)) - 4; };
    for (int round = 0; round < 20; ++round) {
        pixel_set expected;
        const pixel_set blue = blue_pixels([&](canvas& c) {
            for (int i = 0; i < 60; ++i) {
                const int x = coordinate(W), y = coordinate(H), length = static_cast<int>(random() % 9) - 4;
                const bool vertical = random() % 2 != 0;
                const int x1 = vertical ? x : x + length, y1 = vertical ? y + length : y;
                c.move_to(x, y);
                c.line_to(x1, y1);
                for (int k = 0; k < (length < 0 ? -length : length); ++k) {
                    const int step = length < 0 ? -k : k;
                    const int px = vertical ? x : x + step, py = vertical ? y + step : y;
                    if (px >= 0 && px < W && py >= 0 && py < H) expected.insert({px, py});
                }
            }
        });
        ASSERT_EQ(blue, expected) << "round " << round;
    }
}

std::string refusal(const std::string& size, const std::string& output = "a.png") {
    render_options o;
    o.output = output;
    o.size = size;
    try {
        render_settings_from_options(o);
    } catch (const CLI::ValidationError& e) {
        return e.what();
    }
    return "";
}

TEST(RenderOptions, SizesTheWindowCannotHaveOrMemoryCannotHoldAreRefused) {
    EXPECT_EQ(refusal("300x400"), "");
    EXPECT_NE(refusal("299x600").find("--size: 299x600 is smaller than the window can be"), std::string::npos);
    EXPECT_NE(refusal("800x399").find("at least 300x400"), std::string::npos);
    EXPECT_NE(refusal("32768x600", "a.svg").find("at most 32767"), std::string::npos);
    EXPECT_NE(refusal("800x600x2").find("is not a size"), std::string::npos);
    EXPECT_NE(refusal("x600").find("is not a size"), std::string::npos);
    // A PNG picture is drawn in memory first; a vector picture is not.
    EXPECT_NE(refusal("20000x20000").find("1526 MiB of memory"), std::string::npos);
    EXPECT_EQ(refusal("20000x20000", "a.PDF"), "");
}

TEST(RenderCommandDeathTest, APictureThatCannotBeWrittenLeavesTheOldFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    temp_dir dir;
    install_cli_error_presentation();
    clear_channels();
    set_capture_defaults();
    const std::string capture = dir.file("a.dso"), picture = dir.file("a.png");
    save_dso_structure(capture.c_str());
    const std::vector<unsigned char> old_bytes(3000, 'x');
    write_bytes(picture, old_bytes);

    render_options o;
    o.file = capture;
    o.output = picture;
    const render_settings s = render_settings_from_options(o);
    EXPECT_EXIT(
        {
            limit_file_size(2000);  // a disk that fills up while the picture is written
            run_render_command(o, s);
        },
        ::testing::ExitedWithCode(5), "Could Not Write To File");
    EXPECT_TRUE(read_bytes(picture) == old_bytes);
    EXPECT_EQ(dir.entries().size(), 2u);

    // Written, it takes the old file's place at the size asked for.
    ASSERT_EQ(run_render_command(o, s), 0);
    cairo_surface_t* png = cairo_image_surface_create_from_png(picture.c_str());
    EXPECT_EQ(cairo_image_surface_get_width(png), 800);
    EXPECT_EQ(cairo_image_surface_get_height(png), 600);
    cairo_surface_destroy(png);
    EXPECT_EQ(dir.entries().size(), 2u);
}

}  // namespace
