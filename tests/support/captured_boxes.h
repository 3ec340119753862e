// An error presentation for tests: remembers every box instead of showing it, and writes it
// to standard error so that death tests can match the message of a fatal report.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "app/error_presentation.h"

// A decimal digit in a death-test pattern: GoogleTest's own simple patterns on Windows,
// POSIX extended ones elsewhere.
#ifdef _WIN32
#define RE_DIGIT "\\d"
#else
#define RE_DIGIT "[0-9]"
#endif

struct shown_box {
    std::string caption;
    std::string text;
    box_icon icon;
};

class captured_boxes : public error_presentation {
public:
    std::vector<shown_box> boxes;
    int quit_posts = 0;

    captured_boxes() { set_error_presentation(this); }
    ~captured_boxes() override { set_error_presentation(nullptr); }
    captured_boxes(const captured_boxes&) = delete;
    captured_boxes& operator=(const captured_boxes&) = delete;

    void show_box(const char* caption, const char* text, box_icon icon) override {
        boxes.push_back({caption, text, icon});
        // One line, each line break shown as '/', so that patterns match on every platform.
        std::string line = std::string("[") + caption + "] " + text;
        for (char& c : line)
            if (c == '\n') c = '/';
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
    // Also written to standard error, where a death test can see whether it happened.
    void post_quit() override {
        ++quit_posts;
        std::fprintf(stderr, "[quit posted]\n");
        std::fflush(stderr);
    }
};
