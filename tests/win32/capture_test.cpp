// Capturing from the program: the capture settings dialog, the progress dialog with its
// capture thread against the simulated hardware, and the Hardware IO dialog.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/shell_win32.h"
#include "capture/dso_structure.h"
#include "display/view_range.h"
#include "hardware/capture_sequence.h"
#include "hardware/capture_services.h"
#include "hardware/port.h"
#include "simulator/simulated_device.h"
#include "support/recording_bus.h"
#include "win32/ui_support.h"

namespace {

// Passes every access to the device and remembers which thread made it.
class watched_bus : public port_bus {
public:
    explicit watched_bus(port_bus& inner) : inner_(inner) {}
    uint8_t in(uint16_t address) override {
        note();
        return inner_.in(address);
    }
    void out(uint16_t address, uint8_t value) override {
        note();
        inner_.out(address, value);
    }
    long accesses() const { return accesses_.load(); }
    // True when a thread touched the port again after another thread had taken over.
    bool interleaved() const { return interleaved_.load(); }
    size_t threads_seen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return order_.size();
    }

private:
    void note() {
        ++accesses_;
        DWORD me = GetCurrentThreadId();
        std::lock_guard<std::mutex> lock(mutex_);
        if (!order_.empty() && order_.back() == me) return;
        for (DWORD earlier : order_)
            if (earlier == me) interleaved_ = true;
        order_.push_back(me);
    }
    port_bus& inner_;
    std::atomic<long> accesses_{0};
    std::atomic<bool> interleaved_{false};
    std::mutex mutex_;
    std::vector<DWORD> order_;
};

class Capture : public ::testing::Test {
protected:
    std::unique_ptr<simulated_device> device = std::make_unique<simulated_device>();
    std::unique_ptr<watched_bus> bus = std::make_unique<watched_bus>(*device);
    HWND window = nullptr;
    std::vector<int> percentages;
    bool cancel_enabled_while_downloading = false;
    // The progress dialog's two texts right after it handled each command of the thread.
    std::vector<std::string> state_texts, percent_texts;
    HHOOK hook = nullptr;

    static Capture* current;

    void SetUp() override {
        device->set_instant(true);
        window = open_main_window(bus.get());
        ASSERT_NE(window, nullptr);
        current = this;
        hook = SetWindowsHookExA(WH_CALLWNDPROCRET, watch_progress, nullptr, GetCurrentThreadId());
    }
    void TearDown() override {
        UnhookWindowsHookEx(hook);
        current = nullptr;
        // No capture may outlive the test: cancel one still waiting and let it end.
        if (HWND progress = FindWindowA(nullptr, "DSO Data Capture")) SendMessageA(progress, WM_COMMAND, IDCANCEL, 0);
        pump_until(window, [] { return FindWindowA(nullptr, "DSO Data Capture") == nullptr; }, 3000);
        Sleep(50);
        close_main_window(window);
    }

    // Sees the commands the capture thread sends to the progress dialog, once handled.
    static LRESULT CALLBACK watch_progress(int code, WPARAM wparam, LPARAM lparam) {
        const CWPRETSTRUCT* m = reinterpret_cast<const CWPRETSTRUCT*>(lparam);
        int id = LOWORD(m->wParam);
        if (code == HC_ACTION && current && m->message == WM_COMMAND &&
            (id == CMD_DOWNLOAD_BEGIN || id == CMD_DOWNLOAD_PROGRESS)) {
            if (id == CMD_DOWNLOAD_PROGRESS) current->percentages.push_back(static_cast<int>(m->lParam));
            if (IsWindowEnabled(GetDlgItem(m->hwnd, IDCANCEL))) current->cancel_enabled_while_downloading = true;
            current->state_texts.push_back(item_text(m->hwnd, IDC_PROGRESS_STATE));
            current->percent_texts.push_back(item_text(m->hwnd, IDC_PROGRESS_PERCENT));
        }
        return CallNextHookEx(nullptr, code, wparam, lparam);
    }

    bool capture_running() { return FindWindowA(nullptr, "DSO Data Capture") != nullptr; }
    bool wait_for_capture_end() {
        return pump_until(window, [&] { return !capture_running() && IsWindowEnabled(window); }, 20000);
    }

    // Opens Data Capture, lets settings() act on the dialog, presses Start Capture.
    bool start_capture(const std::function<void(HWND)>& settings) {
        return run_with_dialogs([&] { SendMessageA(window, WM_COMMAND, CMD_DATA_CAPTURE, 0); },
                                {[&](HWND d) {
                                     if (window_text(d) != "DSO Capture Settings") return false;
                                     settings(d);
                                     press(d, IDOK);
                                     return true;
                                 }});
    }
};
Capture* Capture::current = nullptr;

// Runs a settings dialog: steps act on it, each after the refreshes the previous one posted.
bool with_settings(HWND window, std::vector<dialog_step> steps) {
    std::vector<dialog_step> all;
    for (auto& s : steps)
        all.push_back([s](HWND d) { return window_text(d) == "DSO Capture Settings" && s(d); });
    return run_with_dialogs([&] { SendMessageA(window, WM_COMMAND, CMD_DATA_CAPTURE, 0); }, all);
}

TEST_F(Capture, SettingsOpenWithTheRecordAndSwitchTheSourceOffChannelB) {
    dso_structure.trigger_source = TRIGGER_CHANNEL_B;
    dso_structure.trigger_value = 127 + 40;
    dso_structure.sample_rate_index = 2;
    dso_structure.pretrigger = 1234;
    std::vector<std::string> labels;
    bool done = with_settings(
        window, {[&](HWND d) {
                     EXPECT_TRUE(item_checked(d, IDC_MODE_DUAL));
                     EXPECT_TRUE(item_checked(d, IDC_SOURCE_CHANNEL_B));
                     EXPECT_TRUE(item_checked(d, IDC_RISING_EDGE));
                     EXPECT_EQ(item_text(d, IDC_TRIGGER_VALUE), "40");
                     EXPECT_EQ(item_text(d, IDC_PRETRIGGER), "1234");
                     EXPECT_TRUE(SendDlgItemMessageA(d, IDC_RISING_EDGE, BM_GETIMAGE, IMAGE_BITMAP, 0) != 0);
                     char text[64];
                     for (int i = 0; i < 6; ++i) {
                         SendDlgItemMessageA(d, IDC_SAMPLE_FREQUENCY, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
                         labels.push_back(text);
                     }
                     EXPECT_EQ(SendDlgItemMessageA(d, IDC_SAMPLE_FREQUENCY, CB_GETCURSEL, 0, 0), 2);
                     click(d, IDC_MODE_SINGLE);
                     return true;
                 },
                 [&](HWND d) {
                     if (item_enabled(d, IDC_SOURCE_CHANNEL_B)) return false;  // the refresh is still to come
                     EXPECT_TRUE(item_checked(d, IDC_SOURCE_CHANNEL_A));
                     EXPECT_FALSE(item_checked(d, IDC_SOURCE_CHANNEL_B));
                     EXPECT_EQ(item_text(d, IDC_SOURCE_CHANNEL_A), "Analogue Channel A");
                     char text[64];
                     SendDlgItemMessageA(d, IDC_SAMPLE_FREQUENCY, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text));
                     EXPECT_STREQ(text, "100.0 MHz");
                     EXPECT_EQ(SendDlgItemMessageA(d, IDC_SAMPLE_FREQUENCY, CB_GETCURSEL, 0, 0), 2)
                         << "the frequency index is kept across modes";
                     press(d, IDCANCEL);
                     return true;
                 }});
    EXPECT_TRUE(done);
    EXPECT_EQ(labels, (std::vector<std::string>{"50.0 MHz", "25.0 MHz", "12.5 MHz", "6.3 MHz", "3.1 MHz", "1.6 MHz"}));
    EXPECT_EQ(dso_structure.trigger_source, TRIGGER_CHANNEL_B) << "Cancel leaves the record alone";
    EXPECT_EQ(dso_structure.capture_mode, MODE_DUAL);
}

TEST_F(Capture, LogicPatternsAreHexadecimalAndMaskedToTheModesWidth) {
    std::string logic16, mixed, dual;
    bool done = with_settings(
        window, {[&](HWND d) {
                     click(d, IDC_MODE_LOGIC16);
                     click(d, IDC_SOURCE_CHANNEL_A);
                     set_item_text(d, IDC_TRIGGER_VALUE, "12345");
                     leave_edit(d, IDC_TRIGGER_VALUE);
                     return true;
                 },
                 [&](HWND d) {
                     if (item_text(d, IDC_TRIGGER_VALUE) == "12345") return false;
                     logic16 = item_text(d, IDC_TRIGGER_VALUE);
                     EXPECT_EQ(item_text(d, IDC_TRIGGER_VALUE_LABEL), "Trigger Value (Hex)");
                     EXPECT_EQ(item_text(d, IDC_SOURCE_CHANNEL_A), "16 Bit Logic");
                     EXPECT_FALSE(item_enabled(d, IDC_RISING_EDGE));
                     EXPECT_FALSE(item_enabled(d, IDC_FALLING_EDGE));
                     set_item_text(d, IDC_TRIGGER_VALUE, "12345");
                     click(d, IDC_MODE_MIXED);
                     return true;
                 },
                 [&](HWND d) {
                     if (item_text(d, IDC_SOURCE_CHANNEL_A) != "Logic Channel A") return false;
                     mixed = item_text(d, IDC_TRIGGER_VALUE);
                     set_item_text(d, IDC_TRIGGER_VALUE, "0x1f");
                     click(d, IDC_MODE_DUAL);
                     return true;
                 },
                 [&](HWND d) {
                     if (item_text(d, IDC_SOURCE_CHANNEL_A) != "Analogue Channel A") return false;
                     dual = item_text(d, IDC_TRIGGER_VALUE);
                     EXPECT_EQ(item_text(d, IDC_TRIGGER_VALUE_LABEL), "Trigger Value (Dec)");
                     EXPECT_TRUE(item_enabled(d, IDC_RISING_EDGE));
                     press(d, IDCANCEL);
                     return true;
                 }});
    EXPECT_TRUE(done);
    EXPECT_EQ(logic16, "0x2345");
    EXPECT_EQ(mixed, "0x45");
    EXPECT_EQ(dual, "0") << "0x1f read as decimal is 0";
}

TEST_F(Capture, EntriesAreLimitedAndStartCaptureStoresThem) {
    // The external trigger: the disabled value entry is still limited, read and stored.
    bool started = start_capture([&](HWND d) {
        set_item_text(d, IDC_TRIGGER_VALUE, "200");
        set_item_text(d, IDC_PRETRIGGER, "4000000000");
        SendDlgItemMessageA(d, IDC_SAMPLE_FREQUENCY, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        click(d, IDC_FALLING_EDGE);
    });
    EXPECT_TRUE(started);
    EXPECT_EQ(dso_structure.trigger_value, 254);
    EXPECT_EQ(dso_structure.pretrigger, 393215);
    EXPECT_EQ(dso_structure.sample_rate_index, -1);
    EXPECT_EQ(dso_structure.trigger_edge, 1);
    EXPECT_TRUE(wait_for_capture_end());

    started = start_capture([&](HWND d) { set_item_text(d, IDC_TRIGGER_VALUE, "-200"); });
    EXPECT_TRUE(started);
    EXPECT_EQ(dso_structure.trigger_value, 1);
    EXPECT_TRUE(wait_for_capture_end());

    // None: the pre-trigger count goes to 0 and is disabled; the disabled value entry is
    // still read and stored.
    bool none_disables = false;
    started = start_capture([&](HWND d) {
        set_item_text(d, IDC_PRETRIGGER, "999999");
        set_item_text(d, IDC_TRIGGER_VALUE, "5");
        click(d, IDC_SOURCE_NONE);
        SendMessageA(d, WM_COMMAND, CMD_SETTINGS_REFRESH, 0);
        none_disables = !item_enabled(d, IDC_PRETRIGGER) && !item_enabled(d, IDC_TRIGGER_VALUE) &&
                        item_text(d, IDC_PRETRIGGER) == "0";
    });
    EXPECT_TRUE(started);
    EXPECT_TRUE(none_disables);
    EXPECT_EQ(dso_structure.pretrigger, 0);
    EXPECT_EQ(dso_structure.trigger_source, TRIGGER_NONE);
    EXPECT_EQ(dso_structure.trigger_value, 132);
    EXPECT_TRUE(wait_for_capture_end());
}

std::vector<std::string> frequency_labels(HWND d) {
    std::vector<std::string> labels;
    LRESULT count = SendDlgItemMessageA(d, IDC_SAMPLE_FREQUENCY, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char text[64] = "";
        SendDlgItemMessageA(d, IDC_SAMPLE_FREQUENCY, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        labels.push_back(text);
    }
    return labels;
}

// Single Channel lists the trace rate, twice the converter rate of the other modes; the
// selected index, the converter clock, stays the same.
TEST_F(Capture, TheFrequencyListFollowsTheModeAndKeepsItsIndex) {
    dso_structure.sample_rate_index = 3;
    const std::vector<std::string> converter_rates = {"50.0 MHz", "25.0 MHz", "12.5 MHz",
                                                      "6.3 MHz",  "3.1 MHz",  "1.6 MHz"};
    const std::vector<std::string> trace_rates = {"100.0 MHz", "50.0 MHz", "25.0 MHz",
                                                  "12.5 MHz",  "6.3 MHz",  "3.1 MHz"};
    std::vector<std::vector<std::string>> lists;
    std::vector<std::string> shown;
    bool done = with_settings(window, {[&](HWND d) {
                                  for (int mode : {MODE_DUAL, MODE_SINGLE, MODE_LOGIC16, MODE_MIXED, MODE_DUAL}) {
                                      click(d, IDC_MODE_DUAL + mode);
                                      SendMessageA(d, WM_COMMAND, CMD_SETTINGS_REFRESH, 0);
                                      lists.push_back(frequency_labels(d));
                                      shown.push_back(item_text(d, IDC_SAMPLE_FREQUENCY));
                                  }
                                  press(d, IDCANCEL);
                                  return true;
                              }});
    EXPECT_TRUE(done);
    EXPECT_EQ(lists, (std::vector<std::vector<std::string>>{converter_rates, trace_rates, converter_rates,
                                                             converter_rates, converter_rates}));
    EXPECT_EQ(shown, (std::vector<std::string>{"6.3 MHz", "12.5 MHz", "6.3 MHz", "6.3 MHz", "6.3 MHz"}));
}

// A pattern entry that holds no number shows the record's pattern again, and Start Capture
// keeps the record's pattern.
TEST_F(Capture, APatternEntryWithoutANumberKeepsTheRecordsPattern) {
    dso_structure.capture_mode = MODE_LOGIC16;
    dso_structure.trigger_source = TRIGGER_CHANNEL_A;
    dso_structure.trigger_value = 0xBEEF;
    std::string logic16, mixed;
    bool done = with_settings(window, {[&](HWND d) {
                                           set_item_text(d, IDC_TRIGGER_VALUE, "zz");
                                           leave_edit(d, IDC_TRIGGER_VALUE);
                                           return true;
                                       },
                                       [&](HWND d) {
                                           if (item_text(d, IDC_TRIGGER_VALUE) == "zz") return false;
                                           logic16 = item_text(d, IDC_TRIGGER_VALUE);
                                           set_item_text(d, IDC_TRIGGER_VALUE, "");
                                           click(d, IDC_MODE_MIXED);
                                           return true;
                                       },
                                       [&](HWND d) {
                                           if (item_text(d, IDC_SOURCE_CHANNEL_A) != "Logic Channel A") return false;
                                           mixed = item_text(d, IDC_TRIGGER_VALUE);
                                           press(d, IDCANCEL);
                                           return true;
                                       }});
    EXPECT_TRUE(done);
    EXPECT_EQ(logic16, "0xbeef");
    EXPECT_EQ(mixed, "0xef");

    EXPECT_TRUE(start_capture([](HWND d) { set_item_text(d, IDC_TRIGGER_VALUE, "-"); }));
    EXPECT_EQ(dso_structure.trigger_value, 0xBEEF);
    EXPECT_EQ(dso_structure.capture_mode, MODE_LOGIC16);
}

TEST_F(Capture, AnUnknownModeChecksNoButtonAndRefreshesAsMixedMode) {
    dso_structure.capture_mode = 9;
    bool done = with_settings(window, {[&](HWND d) {
                                  if (item_text(d, IDC_SOURCE_CHANNEL_A) != "Logic Channel A") return false;
                                  for (int id = IDC_MODE_DUAL; id <= IDC_MODE_MIXED; ++id) EXPECT_FALSE(item_checked(d, id));
                                  press(d, IDCANCEL);
                                  return true;
                              }});
    EXPECT_TRUE(done);
}

// A whole capture in each mode through the real dialogs.
TEST_F(Capture, EachModeCapturesWithTheTriggerAtThePreTriggerMarker) {
    const int modes[] = {MODE_DUAL, MODE_SINGLE, MODE_LOGIC16, MODE_MIXED};
    for (int mode : modes) {
        SCOPED_TRACE(mode);
        percentages.clear();
        set_view_range(5, 50);
        bool started = start_capture([&](HWND d) {
            click(d, IDC_MODE_DUAL + mode);
            SendMessageA(d, WM_COMMAND, CMD_SETTINGS_REFRESH, 0);
            click(d, mode == MODE_MIXED ? IDC_SOURCE_CHANNEL_B : IDC_SOURCE_CHANNEL_A);
            SendMessageA(d, WM_COMMAND, CMD_SETTINGS_REFRESH, 0);
            set_item_text(d, IDC_TRIGGER_VALUE, mode == MODE_LOGIC16 ? "0x1234" : "0");
            set_item_text(d, IDC_PRETRIGGER, "20000");
            SendDlgItemMessageA(d, IDC_SAMPLE_FREQUENCY, CB_SETCURSEL, 1, 0);
        });
        ASSERT_TRUE(started);
        ASSERT_TRUE(wait_for_capture_end());
        EXPECT_EQ(dso_structure.capture_mode, mode);
        EXPECT_EQ(view_start, 0);
        EXPECT_EQ(view_end, mode == MODE_SINGLE ? 0xBFFFF : 0x5FFFF) << "the view range is reset";
        ASSERT_EQ(percentages.size(), 196u);
        EXPECT_EQ(percentages.front(), 0);
        EXPECT_EQ(percentages.back(), 99);
        EXPECT_FALSE(cancel_enabled_while_downloading);
        const uint8_t* s = dso_structure.sample_area;
        switch (mode) {
        case MODE_DUAL:
            EXPECT_GE(dso_structure.channel_a[20000], 127);
            EXPECT_LT(dso_structure.channel_a[19999], 127);
            break;
        case MODE_SINGLE:  // the trigger sample is trace sample 20000 or the one after it
            EXPECT_TRUE((s[20000] >= 127 && s[19999] < 127) || (s[20001] >= 127 && s[20000] < 127));
            break;
        case MODE_LOGIC16:
            EXPECT_EQ(s[40000] | (s[40001] << 8), 0x1234);
            EXPECT_NE(s[39998] | (s[39999] << 8), 0x1234);
            break;
        case MODE_MIXED:
            EXPECT_GE(dso_structure.channel_b[20000], 127);
            EXPECT_LT(dso_structure.channel_b[19999], 127);
            break;
        }
    }
    EXPECT_FALSE(bus->interleaved());
}

TEST_F(Capture, TheProgressDialogShowsTheDownloadAndEachPercentage) {
    EXPECT_TRUE(start_capture([](HWND) {}));
    ASSERT_TRUE(wait_for_capture_end());
    ASSERT_EQ(percentages.size(), 196u);
    // The download's start, then each report.
    std::vector<std::string> states(197, "Downloading Captured Data"), shown = {""};
    for (int p : percentages) shown.push_back(std::to_string(p) + " %");
    EXPECT_EQ(state_texts, states);
    EXPECT_EQ(percent_texts, shown);
    EXPECT_EQ(percent_texts.back(), "99 %");
}

TEST_F(Capture, CancelWhileWaitingClearsTheTracesKeepsTheRangeAndStopsThePort) {
    dso_structure.channel_a[100] = 3;
    set_view_range(100, 900);
    bool started = start_capture([&](HWND d) {
        click(d, IDC_SOURCE_CHANNEL_A);
        SendMessageA(d, WM_COMMAND, CMD_SETTINGS_REFRESH, 0);
        set_item_text(d, IDC_TRIGGER_VALUE, "127");  // above the signal's peak: never triggers
    });
    ASSERT_TRUE(started);
    HWND progress = nullptr;
    pump_messages(window);  // the main window takes the posted news of the start
    ASSERT_TRUE(pump_until(window, [&] { return (progress = FindWindowA(nullptr, "DSO Data Capture")) != nullptr; }));
    EXPECT_EQ(item_text(progress, IDC_PROGRESS_STATE), "Waiting For Trigger");
    EXPECT_EQ(item_text(progress, IDC_PROGRESS_PERCENT), "");
    EXPECT_FALSE(IsWindowEnabled(window)) << "the main window is disabled during a capture";
    Sleep(300);
    pump_messages(window);
    press(progress, IDCANCEL);
    pump_until(window, [&] { return !capture_running(); });
    EXPECT_TRUE(IsWindowEnabled(window));
    long after_cancel = bus->accesses();
    Sleep(400);
    EXPECT_EQ(bus->accesses(), after_cancel) << "no port access after the Cancel";
    for (int32_t n = 0; n < SAMPLE_AREA_SIZE; ++n) ASSERT_EQ(dso_structure.sample_area[n], 0x80);
    EXPECT_EQ(view_start, 100);
    EXPECT_EQ(view_end, 900);
}

TEST_F(Capture, ACounterOutOfRangeWarnsAndTheDialogStillCloses) {
    device->set_failure(sim_failure::counter_out_of_range);
    dso_structure.channel_a[7] = 9;
    set_view_range(10, 20);
    EXPECT_TRUE(start_capture([](HWND) {}));
    // The warning comes from the capture thread; the dialog closes once it is answered.
    message_box_seen box;
    HWND answered = nullptr;
    EXPECT_TRUE(pump_until(window, [&] {
        HWND b = find_message_box();
        if (b != nullptr && b != answered) {
            box = answer_message_box(b);
            answered = b;
        }
        return answered != nullptr && !capture_running() && IsWindowEnabled(window);
    }));
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.text, "\"Start_Point\" Not Valid, Check Cable");
    EXPECT_EQ(dso_structure.channel_a[7], 9) << "the previous samples stay";
    EXPECT_EQ(view_end, 0x5FFFF) << "the view range is reset all the same";
}

// A capture started at once after a cancelled one never runs beside the old thread.
TEST_F(Capture, CancelAndRestartAHundredTimesNeverPutsTwoThreadsOnThePort) {
    dso_structure.trigger_source = TRIGGER_CHANNEL_A;
    dso_structure.trigger_value = 254;  // never triggers
    dso_structure.pretrigger = 1000;
    for (int cycle = 0; cycle < 100; ++cycle) {
        HWND progress = CreateDialogParamA(app_instance, MAKEINTRESOURCEA(IDD_PROGRESS), window,
                                           progress_message_handler, 0);
        ASSERT_NE(progress, nullptr);
        pump_messages(window);
        if (cycle % 3 == 1) Sleep(2);
        SendMessageA(progress, WM_COMMAND, IDCANCEL, 0);
        pump_messages(window);
    }
    Sleep(300);
    EXPECT_FALSE(bus->interleaved());
    EXPECT_GE(bus->threads_seen(), 2u);
    EXPECT_TRUE(IsWindowEnabled(window));
}

// The Hardware IO dialog on a recording bus.
class HardwareIo : public ::testing::Test {
protected:
    recording_bus bus;
    HWND window = nullptr;
    void SetUp() override {
        bus.reader = [](uint16_t address) -> uint8_t {
            if (address == 0x378) return 0x5A;
            return address == 0x379 ? 0xC0 : 0x2B;
        };
        window = open_main_window(&bus);
    }
    void TearDown() override { close_main_window(window); }
    bool open(std::vector<dialog_step> steps) {
        std::vector<dialog_step> all;
        for (auto& s : steps) all.push_back([s](HWND d) { return window_text(d) == "Hardware IO" && s(d); });
        return run_with_dialogs([&] { SendMessageA(window, WM_COMMAND, CMD_HARDWARE_IO, 0); }, all);
    }
};

TEST_F(HardwareIo, ShowsThePortAtOnceAndWritesWhatWasTyped) {
    std::vector<uint8_t> control_writes;
    bool done = open({[&](HWND d) {
                          if (item_text(d, IDC_HWIO_DATA).empty()) return false;  // the posted refresh
                          EXPECT_EQ(item_text(d, IDC_HWIO_DATA), "0x5a");
                          EXPECT_EQ(item_text(d, IDC_HWIO_STATUS), "0x40");
                          EXPECT_EQ(item_text(d, IDC_HWIO_CONTROL), "0x20");
                          bus.log.clear();
                          set_item_text(d, IDC_HWIO_CONTROL, "3f");
                          leave_edit(d, IDC_HWIO_CONTROL);
                          return true;
                      },
                      [&](HWND d) {
                          control_writes = bus.writes_to(0x37A);
                          if (item_text(d, IDC_HWIO_CONTROL) != "0x20") return false;  // read back
                          bus.log.clear();
                          set_item_text(d, IDC_HWIO_REG_NUMBER, "3");
                          set_item_text(d, IDC_HWIO_REG_VALUE, "0x1ff");
                          press(d, IDC_HWIO_SET_REG);
                          return true;
                      },
                      [&](HWND d) {
                          if (item_text(d, IDC_HWIO_REG_VALUE) != "0xff") return false;
                          EXPECT_EQ(item_text(d, IDC_HWIO_REG_NUMBER), "0x3");
                          // The byte, then three strobes of the control register: idle,
                          // register 3 (code on bits 1-3), idle; bits 0, 1 and 3 inverted.
                          const std::vector<std::pair<int, int>> expected = {
                              {0x378, 0xFF},                                   // data
                              {0x37A, 0x0B}, {0x37A, 0x0A}, {0x37A, 0x0B},    // idle
                              {0x37A, 0x0D}, {0x37A, 0x0C}, {0x37A, 0x0D},    // register 3
                              {0x37A, 0x0B}, {0x37A, 0x0A}, {0x37A, 0x0B}};  // idle
                          std::vector<std::pair<int, int>> writes;  // address, value
                          for (const port_access& a : bus.log)
                              if (a.is_write) writes.emplace_back(a.address, a.value);
                          EXPECT_EQ(writes, expected);
                          bus.log.clear();
                          set_item_text(d, IDC_HWIO_ICR_VALUE, "0x17");
                          press(d, IDC_HWIO_SET_ICR);
                          return true;
                      },
                      [&](HWND d) {
                          if (bus.writes_to(0x37A).size() < 3) return false;
                          EXPECT_EQ(bus.writes_to(0x37A), (std::vector<uint8_t>{0x25, 0x24, 0x25}));
                          bus.log.clear();
                          press(d, IDC_HWIO_RESET_READ);
                          return true;
                      },
                      [&](HWND d) {
                          if (bus.writes_to(0x378).size() < 2) return false;
                          EXPECT_EQ(bus.writes_to(0x378), (std::vector<uint8_t>{0x00, 0x20}));
                          press(d, IDCANCEL);
                          return true;
                      }});
    EXPECT_TRUE(done);
    ASSERT_FALSE(control_writes.empty());
    EXPECT_EQ(control_writes.front(), 0x34) << "control value 0x3F reaches the port inverted";
}

// Enter in an edit presses the default button, Refresh: the port is read back into the
// edits and nothing typed is written, since the edit never lost the focus.
TEST_F(HardwareIo, EnterInAnEditOnlyReadsThePortBack) {
    bool done = open({[&](HWND d) {
                          if (item_text(d, IDC_HWIO_CONTROL).empty()) return false;
                          bus.log.clear();
                          set_item_text(d, IDC_HWIO_CONTROL, "3f");
                          HWND edit = GetDlgItem(d, IDC_HWIO_CONTROL);
                          SetFocus(edit);
                          PostMessageA(edit, WM_KEYDOWN, VK_RETURN, 1);
                          return true;
                      },
                      [&](HWND d) {
                          if (item_text(d, IDC_HWIO_CONTROL) != "0x20") return false;
                          EXPECT_TRUE(bus.writes_to(0x37A).empty());
                          EXPECT_TRUE(bus.writes_to(0x378).empty());
                          EXPECT_EQ(item_text(d, IDC_HWIO_DATA), "0x5a");
                          press(d, IDCANCEL);
                          return true;
                      }});
    EXPECT_TRUE(done);
}

}  // namespace
