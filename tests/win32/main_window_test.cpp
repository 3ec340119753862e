#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/error_handler.h"
#include "app/shell_win32.h"
#include "capture/dso_file.h"
#include "capture/dso_structure.h"
#include "display/view_range.h"
#include "hardware/port.h"
#include "simulator/simulated_device.h"
#include "support/temp_dir.h"
#include "win32/ui_support.h"

namespace {

constexpr int CLIENT_WIDTH = 640;
constexpr int CLIENT_HEIGHT = 400;

class MainWindow : public ::testing::Test {
protected:
    simulated_device device;
    HWND window = nullptr;

    void SetUp() override {
        device.set_instant(true);
        window = open_main_window(&device, CLIENT_WIDTH, CLIENT_HEIGHT);
        ASSERT_NE(window, nullptr);
        refreshes_before = posted_commands_of(window, CMD_REFRESH);  // a former window's handle
    }
    void TearDown() override { close_main_window(window); }

    void command(int id) {
        SendMessageA(window, WM_COMMAND, static_cast<WPARAM>(id), 0);
        pump_messages(window);
    }
    void range_is(int32_t start, int32_t end) {
        EXPECT_EQ(view_start, start);
        EXPECT_EQ(view_end, end);
    }
    UINT offset_item_state() { return GetMenuState(GetMenu(window), CMD_OFFSET_CORRECT, MF_BYCOMMAND); }
    // How many Refresh commands were posted to the window since it opened.
    int refreshes_before = 0;
    int refreshes() {
        pump_messages(window);
        return posted_commands_of(window, CMD_REFRESH) - refreshes_before;
    }
    // Whether the window has painted since the last call (the messages are pumped first).
    int paints_seen = 0;
    bool repainted() {
        pump_messages(window);
        int now = paints_of(window);
        bool painted = now != paints_seen;
        paints_seen = now;
        return painted;
    }
};

struct menu_entry {
    int popup;
    const char* text;
    UINT id;
    enum { item, divider, break_divider } kind;
};

const menu_entry MENU[] = {
    {0, "&Open", 40006, menu_entry::item},
    {0, "&Save As", 40002, menu_entry::item},
    {0, "", 40003, menu_entry::break_divider},
    {0, "&Export CSV File", 40012, menu_entry::item},
    {0, "", 40011, menu_entry::divider},
    {0, "Data &Capture", 40005, menu_entry::item},
    {0, "", 40003, menu_entry::break_divider},
    {0, "Select &Parrallel Port", 40025, menu_entry::item},
    {0, "Preferences", 40033, menu_entry::item},
    {0, "", 40003, menu_entry::break_divider},
    {0, "Exit", 40001, menu_entry::item},
    {1, "View &Range", 40023, menu_entry::item},
    {1, "", 40022, menu_entry::break_divider},
    {1, "Zoom In", 40013, menu_entry::item},
    {1, "Zoom Out", 40014, menu_entry::item},
    {1, "Pan Right", 40015, menu_entry::item},
    {1, "Pan Left", 40016, menu_entry::item},
    {1, "", 40022, menu_entry::break_divider},
    {1, "Refresh", 40021, menu_entry::item},
    {2, "Offset Correct", 40034, menu_entry::item},
    {3, "View &Mode", 40026, menu_entry::item},
    {3, "", 40022, menu_entry::break_divider},
    {3, "Copy &A To B", 40027, menu_entry::item},
    {3, "Copy &B To A", 40028, menu_entry::item},
    {3, "S&wap A And B", 40029, menu_entry::item},
    {3, "", 40022, menu_entry::break_divider},
    {3, "ReRead FIFO A", 40030, menu_entry::item},
    {3, "ReRead FIFO B", 40031, menu_entry::item},
    {3, "", 40022, menu_entry::break_divider},
    {3, "Direct &Hardware IO", 40032, menu_entry::item},
    {4, "&About", 40008, menu_entry::item},
};

TEST_F(MainWindow, MenuHoldsEveryItemIdentifierAndDivider) {
    HMENU menu = GetMenu(window);
    ASSERT_EQ(GetMenuItemCount(menu), 5);
    const char* popups[] = {"&File", "&View", "&Tools", "&Debug", "&Help"};
    int expected_counts[5] = {};
    for (const menu_entry& e : MENU) ++expected_counts[e.popup];
    int position[5] = {};
    for (int p = 0; p < 5; ++p) {
        char text[64];
        GetMenuStringA(menu, static_cast<UINT>(p), text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, popups[p]);
        EXPECT_EQ(GetMenuItemCount(GetSubMenu(menu, p)), expected_counts[p]) << popups[p];
    }
    for (const menu_entry& e : MENU) {
        HMENU popup = GetSubMenu(menu, e.popup);
        char text[64] = "";
        MENUITEMINFOA info;
        std::memset(&info, 0, sizeof info);
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof text;
        int at = position[e.popup]++;
        ASSERT_TRUE(GetMenuItemInfoA(popup, static_cast<UINT>(at), TRUE, &info));
        EXPECT_EQ(info.wID, e.id) << e.popup << ":" << at;
        EXPECT_STREQ(text, e.text) << e.popup << ":" << at;
        EXPECT_EQ((info.fType & MFT_MENUBARBREAK) != 0, e.kind == menu_entry::break_divider) << e.popup << ":" << at;
        if (e.kind == menu_entry::item) {
            EXPECT_EQ(info.fState & MFS_CHECKED, 0u);
            if (e.id != CMD_OFFSET_CORRECT) {
                EXPECT_EQ(info.fState & MFS_GRAYED, 0u) << e.text;
            }
        }
    }
}

TEST_F(MainWindow, AcceleratorTableHasItsSeventeenEntriesInOrder) {
    HACCEL table = LoadAcceleratorsA(app_instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    ACCEL entries[32];
    ASSERT_EQ(CopyAcceleratorTableA(table, entries, 32), 17);
    const struct {
        WORD key;
        bool control;
        WORD command;
    } expected[] = {
        {'A', true, 40008}, {'A', true, 40027}, {'B', true, 40028}, {'C', true, 40005}, {'E', true, 40012},
        {'H', true, 40032}, {'M', true, 40026}, {'O', true, 40006}, {'P', true, 40025}, {'R', true, 40023},
        {'S', true, 40002}, {VK_ADD, false, 40013}, {VK_F5, false, 40021}, {VK_LEFT, false, 40016},
        {VK_RIGHT, false, 40015}, {VK_SUBTRACT, false, 40014}, {'W', true, 40029},
    };
    for (int i = 0; i < 17; ++i) {
        EXPECT_EQ(entries[i].key, expected[i].key) << i;
        EXPECT_EQ(entries[i].cmd, expected[i].command) << i;
        BYTE flags = static_cast<BYTE>(entries[i].fVirt & ~0x80);  // 0x80 marks the end of the table
        EXPECT_EQ(flags, FVIRTKEY | FNOINVERT | (expected[i].control ? FCONTROL : 0)) << i;
    }
}

TEST_F(MainWindow, CtrlAOpensAboutAndNeverCopiesAToB) {
    dso_structure.channel_a[0] = 1;
    dso_structure.channel_b[0] = 2;
    std::string name, version, contact, caption;
    bool done = run_with_dialogs([&] { post_key(window, 'A', true); },
                                 {[&](HWND about) {
                                     caption = window_text(about);
                                     name = item_text(about, IDC_ABOUT_NAME);
                                     version = item_text(about, IDC_ABOUT_VERSION);
                                     contact = item_text(about, IDC_ABOUT_CONTACT);
                                     press(about, IDOK);
                                     return true;
                                 }});
    EXPECT_TRUE(done);
    EXPECT_EQ(caption, "About");
    EXPECT_EQ(name, "Korvane");
    EXPECT_EQ(version, "Version 1.1.1 (I/O Enabled)");
    EXPECT_EQ(contact, contact_address);
    EXPECT_EQ(dso_structure.channel_b[0], 2) << "Copy A To B has no working key";
    command(CMD_COPY_A_TO_B);  // from the menu it works
    EXPECT_EQ(dso_structure.channel_b[0], 1);
}

TEST_F(MainWindow, KeypadKeysZoomAndArrowsPanButTheMainKeyboardsPlusAndMinusDoNot) {
    repainted();
    post_key(window, VK_OEM_PLUS, false);
    post_key(window, VK_OEM_MINUS, false);
    range_is(0, 0x5FFFF);
    EXPECT_FALSE(repainted());
    auto key_shows = [&](UINT key, int32_t start, int32_t end) {
        post_key(window, key, false);
        range_is(start, end);
        EXPECT_TRUE(repainted()) << "key " << key;
    };
    key_shows(VK_SUBTRACT, 0, 0x5FFFF);  // the whole capture: both ends clamped, repainted all the same
    key_shows(VK_ADD, 78643, 314572);
    key_shows(VK_LEFT, 31458, 267387);
    key_shows(VK_RIGHT, 78643, 314572);
    key_shows(VK_SUBTRACT, 31458, 361757);
}

TEST_F(MainWindow, RefreshRepaintsWithoutChangingAnything) {
    set_view_range(100, 1100);
    dso_structure.channel_a[5] = 7;
    repainted();
    post_key(window, VK_F5, false);
    EXPECT_TRUE(repainted());
    pump_messages(window);
    UpdateWindow(window);
    range_is(100, 1100);
    EXPECT_EQ(dso_structure.channel_a[5], 7);
    repainted();
    command(CMD_DIVIDER);  // divider identifiers fall through to default processing
    command(CMD_FILE_DIVIDER);
    command(CMD_FILE_PLAIN_DIVIDER);
    EXPECT_FALSE(repainted());
}

TEST_F(MainWindow, CannotBeMadeSmallerThan300By400) {
    MINMAXINFO limits;
    std::memset(&limits, 0, sizeof limits);
    limits.ptMaxTrackSize.x = 12345;
    SendMessageA(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.x, 300);
    EXPECT_EQ(limits.ptMinTrackSize.y, 400);
    EXPECT_EQ(limits.ptMaxTrackSize.x, 12345) << "the other limits keep their values";
}

TEST_F(MainWindow, OffsetCorrectFollowsTheModeOfTheLastPaint) {
    EXPECT_NE(offset_item_state() & MF_GRAYED, 0u) << "grey right after start-up";
    bool done = run_with_dialogs([&] { command(CMD_VIEW_MODE); },
                                 {[&](HWND mode) {
                                     EXPECT_EQ(window_text(mode), "DSO View Mode");
                                     EXPECT_TRUE(item_checked(mode, IDC_MODE_DUAL));
                                     click(mode, IDC_MODE_SINGLE);
                                     press(mode, IDOK);
                                     return true;
                                 }});
    EXPECT_TRUE(done);
    pump_until(window, [&] { return repainted(); }, 2000);
    UpdateWindow(window);
    EXPECT_EQ(dso_structure.capture_mode, MODE_SINGLE);
    EXPECT_EQ(offset_item_state() & MF_GRAYED, 0u) << "enabled after a paint in Single Channel";

    for (int32_t k = 0; k < FIFO_SIZE; ++k) {
        dso_structure.sample_area[2 * k] = 100;
        dso_structure.sample_area[2 * k + 1] = 103;
    }
    repainted();
    command(CMD_OFFSET_CORRECT);
    EXPECT_EQ(dso_structure.sample_area[0], 103);
    EXPECT_TRUE(repainted());
}

TEST_F(MainWindow, OffsetCorrectOutsideSingleChannelWarnsAndChangesNothing) {
    dso_structure.channel_a[0] = 100;
    dso_structure.channel_a[1] = 103;
    repainted();
    message_box_seen box;
    bool done = run_with_dialogs([&] { command(CMD_OFFSET_CORRECT); },
                                 {[&](HWND b) {
                                     box = answer_message_box(b);
                                     return true;
                                 }});
    EXPECT_TRUE(done);
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.text, "Offset Correct Can Only Be Used In Single Channel Mode");
    EXPECT_EQ(box.icon, message_box_seen::warning);
    EXPECT_EQ(dso_structure.channel_a[0], 100);
    EXPECT_FALSE(repainted());
}

TEST_F(MainWindow, ViewRangeAcceptsClampsAndRejects) {
    std::string start_shown, stop_shown;
    bool done = run_with_dialogs([&] { command(CMD_VIEW_RANGE); },
                                 {[&](HWND d) {
                                     start_shown = item_text(d, IDC_START_SAMPLE);
                                     stop_shown = item_text(d, IDC_STOP_SAMPLE);
                                     set_item_text(d, IDC_START_SAMPLE, "1000");
                                     set_item_text(d, IDC_STOP_SAMPLE, "999999");
                                     press(d, IDOK);
                                     return true;
                                 }});
    EXPECT_TRUE(done);
    EXPECT_EQ(start_shown, "0");
    EXPECT_EQ(stop_shown, "393215");
    range_is(1000, 393215);
    EXPECT_TRUE(pump_until(window, [&] { return repainted(); }, 2000));
    EXPECT_EQ(refreshes(), 1) << "OK posts Refresh";

    // Start not below stop: the warning, and the dialog stays open with the user's text.
    message_box_seen box;
    std::string kept;
    done = run_with_dialogs([&] { command(CMD_VIEW_RANGE); },
                            {[&](HWND d) {
                                 set_item_text(d, IDC_START_SAMPLE, "500");
                                 set_item_text(d, IDC_STOP_SAMPLE, "500");
                                 press(d, IDOK);
                                 return true;
                             },
                             [&](HWND d) {
                                 if (!is_message_box(d)) return false;
                                 box = answer_message_box(d);
                                 return true;
                             },
                             [&](HWND d) {
                                 if (window_text(d) != "Korvane") return false;
                                 kept = item_text(d, IDC_START_SAMPLE) + "-" + item_text(d, IDC_STOP_SAMPLE);
                                 range_is(1000, 393215);  // the rejected range was not stored
                                 set_item_text(d, IDC_START_SAMPLE, "-20");  // pasted: taken as 0
                                 set_item_text(d, IDC_STOP_SAMPLE, "300");
                                 press(d, IDOK);
                                 return true;
                             }});
    EXPECT_TRUE(done);
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.text, "Not In Valid Range");
    EXPECT_EQ(kept, "500-500");
    range_is(0, 300);

    done = run_with_dialogs([&] { command(CMD_VIEW_RANGE); },
                            {[&](HWND d) {
                                set_item_text(d, IDC_START_SAMPLE, "7");
                                press(d, IDCANCEL);
                                return true;
                            }});
    EXPECT_TRUE(done);
    range_is(0, 300);
    EXPECT_EQ(refreshes(), 2) << "neither the rejected OK nor Cancel posts Refresh";

    // Single Channel's trace is twice as long: the stop is clamped to its last sample.
    dso_structure.capture_mode = MODE_SINGLE;
    done = run_with_dialogs([&] { command(CMD_VIEW_RANGE); },
                            {[&](HWND d) {
                                set_item_text(d, IDC_STOP_SAMPLE, "999999");
                                press(d, IDOK);
                                return true;
                            }});
    EXPECT_TRUE(done);
    range_is(0, 786431);
}

TEST_F(MainWindow, PreferencesShowTheFlagsAndOnlyOkStoresThem) {
    std::vector<bool> shown;
    bool done = run_with_dialogs([&] { command(CMD_PREFERENCES); },
                                 {[&](HWND d) {
                                     for (int id : {IDC_PREF_ZOOM_WHILE_PANNING, IDC_PREF_TIME_ON_X_AXIS,
                                                    IDC_PREF_PRETRIGGER_POSITION, IDC_PREF_TRIGGER_LEVEL})
                                         shown.push_back(item_checked(d, id));
                                     click(d, IDC_PREF_ZOOM_WHILE_PANNING);
                                     click(d, IDC_PREF_TIME_ON_X_AXIS);
                                     press(d, IDCANCEL);
                                     return true;
                                 }});
    EXPECT_TRUE(done);
    EXPECT_EQ(shown, (std::vector<bool>{true, false, true, true}));
    EXPECT_EQ(display_preferences.allow_zoom_while_panning, 1);
    EXPECT_EQ(display_preferences.show_time_on_x_axis, 0);

    done = run_with_dialogs([&] { command(CMD_PREFERENCES); },
                            {[&](HWND d) {
                                click(d, IDC_PREF_ZOOM_WHILE_PANNING);
                                click(d, IDC_PREF_TIME_ON_X_AXIS);
                                click(d, IDC_PREF_TRIGGER_LEVEL);
                                press(d, IDOK);
                                return true;
                            }});
    EXPECT_TRUE(done);
    EXPECT_EQ(display_preferences.allow_zoom_while_panning, 0);
    EXPECT_EQ(display_preferences.show_time_on_x_axis, 1);
    EXPECT_EQ(display_preferences.show_pretrigger_position, 1);
    EXPECT_EQ(display_preferences.show_trigger_level, 0);
    EXPECT_TRUE(pump_until(window, [&] { return repainted(); }, 2000));
    EXPECT_EQ(refreshes(), 1) << "only OK posts Refresh";
}

// Each mode is ticked when it is the record's; each choice becomes the record's on View.
TEST_F(MainWindow, ViewModeTicksTheRecordsModeAndViewStoresTheChoice) {
    const int modes[] = {MODE_DUAL, MODE_SINGLE, MODE_LOGIC16, MODE_MIXED};
    for (int mode : modes) {
        int choice = (mode + 1) % 4;
        SCOPED_TRACE(mode);
        dso_structure.capture_mode = static_cast<int8_t>(mode);
        std::vector<bool> ticked;
        bool done = run_with_dialogs([&] { command(CMD_VIEW_MODE); },
                                     {[&](HWND d) {
                                         for (int id = IDC_MODE_DUAL; id <= IDC_MODE_MIXED; ++id)
                                             ticked.push_back(item_checked(d, id));
                                         click(d, IDC_MODE_DUAL + choice);
                                         press(d, IDOK);
                                         return true;
                                     }});
        EXPECT_TRUE(done);
        std::vector<bool> expected(4, false);
        expected[static_cast<size_t>(mode)] = true;
        EXPECT_EQ(ticked, expected);
        EXPECT_EQ(dso_structure.capture_mode, choice);
    }
    EXPECT_EQ(refreshes(), 4) << "each View posts Refresh";
}

TEST_F(MainWindow, ViewModeOfAnUnknownModeChecksNothingAndViewSetsMixed) {
    dso_structure.capture_mode = 7;
    int checked_count = -1;
    bool done = run_with_dialogs([&] { command(CMD_VIEW_MODE); },
                                 {[&](HWND d) {
                                     checked_count = 0;
                                     for (int id = IDC_MODE_DUAL; id <= IDC_MODE_MIXED; ++id)
                                         checked_count += item_checked(d, id);
                                     press(d, IDOK);
                                     return true;
                                 }});
    EXPECT_TRUE(done);
    EXPECT_EQ(checked_count, 0);
    EXPECT_EQ(dso_structure.capture_mode, MODE_MIXED);

    done = run_with_dialogs([&] { command(CMD_VIEW_MODE); },
                            {[&](HWND d) {
                                click(d, IDC_MODE_LOGIC16);
                                press(d, IDCANCEL);
                                return true;
                            }});
    EXPECT_TRUE(done);
    EXPECT_EQ(dso_structure.capture_mode, MODE_MIXED) << "Cancel changes nothing";
}

TEST_F(MainWindow, SelectPortShowsNoEntryForAnUnknownAddressAndKeepsIt) {
    port_address = 0x2F8;
    LRESULT selected = 99, count = 0;
    std::string first;
    bool done = run_with_dialogs([&] { command(CMD_SELECT_PORT); },
                                 {[&](HWND d) {
                                     selected = SendDlgItemMessageA(d, IDC_PORT_COMBO, CB_GETCURSEL, 0, 0);
                                     count = SendDlgItemMessageA(d, IDC_PORT_COMBO, CB_GETCOUNT, 0, 0);
                                     char text[64];
                                     SendDlgItemMessageA(d, IDC_PORT_COMBO, CB_GETLBTEXT, 2, reinterpret_cast<LPARAM>(text));
                                     first = text;
                                     press(d, IDOK);
                                     return true;
                                 }});
    EXPECT_TRUE(done);
    EXPECT_EQ(selected, CB_ERR);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(first, "LPT3: (0x3BC)");
    EXPECT_EQ(get_port_address(), 0x2F8);

    done = run_with_dialogs([&] { command(CMD_SELECT_PORT); },
                            {[&](HWND d) {
                                SendDlgItemMessageA(d, IDC_PORT_COMBO, CB_SETCURSEL, 1, 0);
                                press(d, IDOK);
                                return true;
                            }});
    EXPECT_TRUE(done);
    EXPECT_EQ(get_port_address(), 0x278);
    // An entry shown, then none selected: OK keeps the port.
    done = run_with_dialogs([&] { command(CMD_SELECT_PORT); },
                            {[&](HWND d) {
                                selected = SendDlgItemMessageA(d, IDC_PORT_COMBO, CB_GETCURSEL, 0, 0);
                                SendDlgItemMessageA(d, IDC_PORT_COMBO, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
                                press(d, IDOK);
                                return true;
                            }});
    EXPECT_TRUE(done);
    EXPECT_EQ(selected, 1);
    EXPECT_EQ(get_port_address(), 0x278);
    port_address = LPT1_ADDRESS;
}

// The common file dialog's name field, old or new style.
HWND file_name_field(HWND dialog) {
    for (int id : {0x47C /* cmb13 */, 0x480 /* edt1 */})
        if (HWND field = GetDlgItem(dialog, id)) return field;
    return nullptr;
}

bool enter_file_name(HWND dialog, const std::string& name) {
    HWND field = file_name_field(dialog);
    if (field == nullptr) return false;
    SetWindowTextA(field, name.c_str());
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    return true;
}

TEST_F(MainWindow, OpenThroughTheFileDialogLoadsAndShowsTheWholeCapture) {
    temp_dir dir;
    std::string name = dir.file("single.dso");
    dso_structure.capture_mode = MODE_SINGLE;
    dso_structure.channel_b[9] = 0x42;
    save_dso_structure(name.c_str());
    clear_channels();
    set_capture_defaults();
    set_view_range(10, 20);

    // Cancel first: nothing changes.
    bool done = run_with_dialogs([&] { command(CMD_OPEN); },
                                 {[&](HWND d) {
                                     if (file_name_field(d) == nullptr) return false;
                                     press(d, IDCANCEL);
                                     return true;
                                 }});
    EXPECT_TRUE(done);
    range_is(10, 20);
    EXPECT_EQ(dso_structure.capture_mode, MODE_DUAL);

    repainted();
    done = run_with_dialogs([&] { command(CMD_OPEN); }, {[&](HWND d) { return enter_file_name(d, name); }});
    EXPECT_TRUE(done);
    EXPECT_EQ(dso_structure.capture_mode, MODE_SINGLE);
    EXPECT_EQ(dso_structure.channel_b[9], 0x42);
    range_is(0, 0xBFFFF);
    EXPECT_TRUE(repainted());

    // A capture of another mode shows that mode's whole length.
    std::string logic = dir.file("logic.dso");
    dso_structure.capture_mode = MODE_LOGIC16;
    save_dso_structure(logic.c_str());
    dso_structure.capture_mode = MODE_DUAL;
    set_view_range(1, 2);
    done = run_with_dialogs([&] { command(CMD_OPEN); }, {[&](HWND d) { return enter_file_name(d, logic); }});
    EXPECT_TRUE(done);
    EXPECT_EQ(dso_structure.capture_mode, MODE_LOGIC16);
    range_is(0, 0x5FFFF);
}

TEST_F(MainWindow, OpenRefusesANameThatDoesNotExist) {
    temp_dir dir;
    set_view_range(10, 20);
    dso_structure.channel_a[0] = 7;
    message_box_seen refusal{};
    bool done = run_with_dialogs([&] { command(CMD_OPEN); },
                                 {[&](HWND d) { return enter_file_name(d, dir.file("missing.dso")); },
                                  [&](HWND d) {
                                      if (!is_message_box(d)) return false;
                                      refusal = answer_message_box(d);
                                      return true;
                                  },
                                  [&](HWND d) {
                                      if (file_name_field(d) == nullptr) return false;
                                      press(d, IDCANCEL);
                                      return true;
                                  }});
    EXPECT_TRUE(done) << "the file dialog stays open after refusing the name";
    EXPECT_FALSE(refusal.text.empty());
    EXPECT_EQ(dso_structure.channel_a[0], 7);
    range_is(10, 20);
}

TEST_F(MainWindow, SaveAsAndExportWriteNewFilesWithoutRepainting) {
    temp_dir dir;
    std::string dso = dir.file("new.dso"), csv = dir.file("new.csv");
    dso_structure.channel_a[3] = 9;
    repainted();
    EXPECT_TRUE(run_with_dialogs([&] { command(CMD_SAVE_AS); }, {[&](HWND d) { return enter_file_name(d, dso); }}));
    EXPECT_EQ(read_bytes(dso).size(), DSO_IMAGE_SIZE);
    EXPECT_TRUE(run_with_dialogs([&] { command(CMD_EXPORT_CSV); }, {[&](HWND d) { return enter_file_name(d, csv); }}));
    EXPECT_EQ(read_bytes(csv).size(), 393216u * 9u - 2u);  // "128,128\r\n" but one "9,128\r\n"
    EXPECT_FALSE(repainted());
    // A name typed without an extension gets the file type's own.
    std::string plain = dir.file("plain");
    EXPECT_TRUE(run_with_dialogs([&] { command(CMD_SAVE_AS); }, {[&](HWND d) { return enter_file_name(d, plain); }}));
    EXPECT_EQ(read_bytes(plain + ".dso").size(), DSO_IMAGE_SIZE);
    EXPECT_TRUE(run_with_dialogs([&] { command(CMD_EXPORT_CSV); }, {[&](HWND d) { return enter_file_name(d, plain); }}));
    EXPECT_EQ(read_bytes(plain + ".csv").size(), 393216u * 9u - 2u);
    // Replacing an existing file asks nothing.
    EXPECT_TRUE(run_with_dialogs([&] { command(CMD_SAVE_AS); }, {[&](HWND d) { return enter_file_name(d, dso); }}));
}

TEST_F(MainWindow, ChannelCommandsAndReReadsRepaint) {
    dso_structure.channel_a[0] = 1;
    dso_structure.channel_b[0] = 2;
    repainted();
    command(CMD_SWAP_A_AND_B);
    EXPECT_EQ(dso_structure.channel_a[0], 2);
    EXPECT_TRUE(repainted());
    command(CMD_COPY_B_TO_A);
    EXPECT_EQ(dso_structure.channel_a[0], 1);
    repainted();
    command(CMD_REREAD_FIFO_A);
    EXPECT_TRUE(repainted());
}

}  // namespace
