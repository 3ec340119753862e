#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "hardware/capture_sequence.h"
#include "support/captured_boxes.h"
#include "support/recording_bus.h"
#include "support/recording_services.h"

namespace {

constexpr uint16_t DATA = 0x378, STATUS = 0x379, CONTROL = 0x37A;

std::string hex2(unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02x", v & 0xFF);
    return b;
}

// The port accesses as protocol steps: "w3:10" register 3 written with 0x10, "r1:ab" register
// 1 read, "s17" a bare strobe of 0x17, "st:c0" a status read (raw), "in:ab" a bare data read.
std::vector<std::string> decode(const std::vector<port_access>& log) {
    struct token {
        char kind;
        uint8_t value;
    };
    std::vector<token> t;
    for (size_t i = 0; i < log.size(); ++i) {
        const port_access& a = log[i];
        if (a.is_write && a.address == CONTROL) {
            const bool pulse = i + 2 < log.size() && log[i + 1] == out_at(CONTROL, a.value ^ 1) &&
                               log[i + 2] == a && !((a.value ^ 0x0B) & 1);
            t.push_back({pulse ? 's' : 'c', pulse ? static_cast<uint8_t>((a.value ^ 0x0B) >> 1) : a.value});
            if (pulse) i += 2;
        } else {
            t.push_back({a.is_write ? 'd' : a.address == STATUS ? 't' : a.address == DATA ? 'i' : '?', a.value});
        }
    }
    auto is = [&](size_t j, char kind, int value) {
        return j < t.size() && t[j].kind == kind && (value < 0 || t[j].value == value);
    };
    std::vector<std::string> out;
    for (size_t i = 0; i < t.size(); ++i) {
        if (is(i, 'd', -1) && is(i + 1, 's', 0) && is(i + 2, 's', -1) && is(i + 3, 's', 0)) {
            out.push_back("w" + std::to_string(t[i + 2].value) + ":" + hex2(t[i].value));
            i += 3;
        } else if (is(i, 's', 0x11) && is(i + 1, 'i', -1) && is(i + 2, 's', 0)) {
            out.push_back("r1:" + hex2(t[i + 1].value));
            i += 2;
        } else {
            const char* names[] = {"s", "st:", "in:", "c:", "d:", "?:"};
            out.push_back(names[std::string("sticd?").find(t[i].kind)] + hex2(t[i].value));
        }
    }
    return out;
}

std::vector<int> written(const std::vector<std::string>& steps, int reg) {
    std::vector<int> v;
    for (const std::string& s : steps)
        if (s[0] == 'w' && std::stoi(s.substr(1)) == reg)
            v.push_back(std::stoi(s.substr(s.find(':') + 1), nullptr, 16));
    return v;
}

class CaptureSequence : public ::testing::Test {
protected:
    recording_bus bus;
    scoped_bus installed{bus};
    recording_services services;
    void SetUp() override {
        port_address = 0x378;
        set_capture_defaults();
    }
    std::vector<std::string> steps() const { return decode(bus.log); }
    // Data reads answer three counter bytes in turn.
    void data_answers(const uint8_t (&bytes)[3]) {
        bus.reader = [&bytes, n = 0](uint16_t address) mutable -> uint8_t { return address == DATA ? bytes[n++] : 0; };
    }
    // Status reads answer from a list (raw values), the last one for ever after.
    void status_answers(std::vector<uint8_t> raw) {
        bus.reader = [raw, n = size_t{0}](uint16_t address) mutable -> uint8_t {
            if (address != STATUS) return 0xFF;
            return raw[n < raw.size() - 1 ? n++ : n];
        };
    }
};

TEST_F(CaptureSequence, ProgrammingWithTheStartUpSettings) {
    program_capture();
    const std::vector<std::string> expected = {
        "w3:00", "s16",   "s17",   "s00",                    // return to idle
        "w2:00", "w3:00", "w3:01", "w3:00", "w2:00", "w3:00", "w3:02", "w3:00",
        "w2:00", "w3:00", "w3:04", "w3:00",                  // pre-trigger count
        "w4:00",                                             // mode, source, rate
        "w2:00", "w5:00", "w5:03", "w5:00",                  // one trigger byte into both
        "w3:00", "w3:10", "w3:00",                           // start
    };
    EXPECT_EQ(steps(), expected);
    EXPECT_EQ(bus.log.size(), 21u * 10 + 3 * 3);
}

TEST_F(CaptureSequence, ProgrammingSendsModeSourceRateAndTriggerBytes) {
    set_header(MODE_MIXED, TRIGGER_CHANNEL_B, 2, 1, 0x12345678, 0x1234);
    program_capture();
    std::vector<std::string> s = steps();
    EXPECT_EQ(written(s, REG_CONFIG), std::vector<int>{0x52});
    EXPECT_EQ(written(s, REG_HOLD), (std::vector<int>{0x78, 0x56, 0x04, 0x34}));  // 19 bits only
    EXPECT_EQ(written(s, REG_TRIGGER), (std::vector<int>{0, 3, 0, 4}));          // ends falling
    EXPECT_EQ(s.size(), 22u + 3);

    bus.log.clear();
    set_header(MODE_LOGIC16, TRIGGER_CHANNEL_A, 0, 0, 0x5FFFF, 0x1234);
    program_capture();
    s = steps();
    EXPECT_EQ(written(s, REG_CONFIG), std::vector<int>{0x0E});
    EXPECT_EQ(written(s, REG_HOLD), (std::vector<int>{0xFF, 0xFF, 0x05, 0x34, 0x12}));
    EXPECT_EQ(written(s, REG_TRIGGER), (std::vector<int>{0, 1, 0, 0, 2, 0}));
    EXPECT_EQ(s.size(), 25u + 3);

    bus.log.clear();
    set_header(MODE_SINGLE, TRIGGER_NONE, -1, 0, 0, 0);  // no rate chosen: rate field 7
    program_capture();
    EXPECT_EQ(written(steps(), REG_CONFIG), std::vector<int>{0xF9});
}

TEST_F(CaptureSequence, PreTriggerWaits) {
    struct wait {
        int32_t pretrigger;
        int8_t rate;
        uint32_t ms;
    } waits[] = {{0, 0, 1},     {49999, 0, 1},  {50000, 0, 1},     {50001, 0, 2},  {100000, 0, 2},
                 {50000, 1, 2}, {0x5FFFF, 5, 252}, {50001, -1, 2}, {100000, -1, 2}};
    status_answers({0xC0});
    for (const wait& w : waits) {
        services.sleeps.clear();
        set_header(MODE_DUAL, TRIGGER_EXTERNAL, w.rate, 0, w.pretrigger, 0);
        EXPECT_FALSE(wait_for_trigger());
        EXPECT_EQ(services.sleeps, std::vector<uint32_t>{w.ms}) << w.pretrigger << " at " << int{w.rate};
    }
}

TEST_F(CaptureSequence, TheWaitArmsPollsAndDisarms) {
    status_answers({0x80, 0x80, 0xC0});
    EXPECT_FALSE(wait_for_trigger());
    EXPECT_EQ(steps(), (std::vector<std::string>{"w3:08", "st:80", "st:80", "st:c0", "w3:00"}));
    EXPECT_EQ(services.sleeps, (std::vector<uint32_t>{1, 250, 250}));
}

TEST_F(CaptureSequence, ACancelEndsTheWaitWithoutFurtherPortAccess) {
    // During the pre-trigger time: not even armed.
    services.on_sleep = [](uint32_t) { request_cancel(); };
    EXPECT_TRUE(wait_for_trigger());
    EXPECT_TRUE(bus.log.empty());

    // During a poll sleep: no status read follows it.
    cancel_requested.store(0);
    services.sleeps.clear();
    services.on_sleep = [&](uint32_t) {
        if (services.sleeps.size() == 3) request_cancel();
    };
    status_answers({0x80});
    EXPECT_TRUE(wait_for_trigger());
    EXPECT_EQ(steps(), (std::vector<std::string>{"w3:08", "st:80", "st:80"}));

    // During the last poll sleep, when the capture completed meanwhile: no status read, no
    // disarm, no download.
    cancel_requested.store(0);
    services.sleeps.clear();
    bus.log.clear();
    status_answers({0x80, 0xC0});
    services.on_sleep = [&](uint32_t) {
        if (services.sleeps.size() == 2) request_cancel();
    };
    EXPECT_FALSE(run_capture());
    std::vector<std::string> s = steps();
    EXPECT_EQ(std::vector<std::string>(s.end() - 2, s.end()), (std::vector<std::string>{"w3:08", "st:80"}));
    EXPECT_EQ(services.download_announcements, 0);

    // While the download is being announced.
    cancel_requested.store(0);
    services.on_sleep = nullptr;
    size_t accesses_at_cancel = 0;
    services.on_download_begins = [&] {
        request_cancel();
        accesses_at_cancel = bus.log.size();
    };
    EXPECT_FALSE(run_capture());
    EXPECT_EQ(services.download_announcements, 1);
    EXPECT_EQ(bus.log.size(), accesses_at_cancel);
}

TEST_F(CaptureSequence, TheSampleCounterIsOnePastTheOldestSample) {
    struct counter {
        uint8_t b0, b1, b2;
        int32_t count;
    } counters[] = {{0, 0, 0, -1},        {0, 0, 6, 0x5FFFF},  {1, 0, 6, 0x60000},
                    {0, 0, 0xFE, 0x5FFFF}, {0xCE, 0xAB, 0x02, 0x2ABCD}};
    for (const counter& c : counters) {
        bus.log.clear();
        const uint8_t bytes[3] = {c.b0, c.b1, c.b2};
        data_answers(bytes);
        EXPECT_EQ(read_sample_count(), c.count);
    }
    EXPECT_EQ(steps(), (std::vector<std::string>{"w5:08", "r1:ce", "w5:10", "r1:ab", "w5:20", "r1:02"}));
}

TEST_F(CaptureSequence, ACounterOutOfRangeWarnsAndKeepsTheLastCapture) {
    const uint8_t cases[][3] = {{0, 0, 0}, {1, 0, 6}};
    for (const auto& bytes : cases) {
        captured_boxes boxes;
        bus.log.clear();
        data_answers(bytes);
        for (int32_t n = 0; n < SAMPLE_AREA_SIZE; ++n)
            dso_structure.sample_area[n] = static_cast<uint8_t>(n * 13);
        sample_count = 0x1234;
        get_dso_data();
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].caption, "Error");
        EXPECT_EQ(boxes.boxes[0].text, "\"Start_Point\" Not Valid, Check Cable");
        // Stopped for read-out, counter select left at its third byte, nothing downloaded.
        std::vector<std::string> s = steps();
        ASSERT_EQ(s.size(), 7u);
        EXPECT_EQ(s[0], "w4:e0");
        EXPECT_EQ(s[5], "w5:20");
        EXPECT_EQ(sample_count, 0x1234);
        EXPECT_TRUE(services.progress.empty());
        for (int32_t n = 0; n < SAMPLE_AREA_SIZE; ++n)
            ASSERT_EQ(dso_structure.sample_area[n], static_cast<uint8_t>(n * 13)) << n;
    }
}

// The byte a sample memory gives at a read-out step.
uint8_t fifo_byte(bool fifo_a, int32_t step) {
    return static_cast<uint8_t>((static_cast<uint32_t>(step) * 2654435761u + (fifo_a ? 0 : 0x5BD1E995u)) >> 24);
}

// A lean bus for whole downloads: data reads answer from a script by their order; the first
// accesses and those after the last data read are kept.
struct scripted_reads : port_bus {
    std::function<uint8_t(int32_t)> byte;
    int32_t reads = 0;
    std::vector<port_access> head, tail;
    static constexpr size_t HEAD = 39 + 2 * 7;  // the set-up and two samples
    uint8_t in(uint16_t address) override {
        uint8_t v = address == DATA ? byte(reads++) : 0;
        if (head.size() < HEAD) head.push_back(in_at(address, v));
        tail.clear();
        return v;
    }
    void out(uint16_t address, uint8_t value) override {
        if (head.size() < HEAD) head.push_back(out_at(address, value));
        tail.push_back(out_at(address, value));
    }
};

class Download : public ::testing::Test {
protected:
    scripted_reads script;
    scoped_bus installed{script};
    recording_services services;
    void SetUp() override { port_address = 0x378; }
};

TEST_F(Download, TheReadOutIsRotatedIntoTimeOrder) {
    static uint8_t buffer[FIFO_SIZE];
    script.byte = [](int32_t n) { return fifo_byte(true, n); };
    for (int32_t oldest : {0, 1, 0x12345, 0x5FFFF}) {
        std::memset(buffer, 0xEE, sizeof buffer);
        script.reads = 0;
        script.head.clear();
        sample_count = oldest;
        download_fifo(buffer, true, false);
        for (int32_t k = 0; k < FIFO_SIZE; ++k)
            ASSERT_EQ(buffer[k], fifo_byte(true, (k + oldest) % FIFO_SIZE)) << k << ", oldest " << oldest;
        EXPECT_EQ(script.reads, FIFO_SIZE);
    }
    EXPECT_TRUE(services.progress.empty());
    EXPECT_EQ(decode(script.head),
              (std::vector<std::string>{"w3:00", "s17", "s16", "w3:20", "w3:e0", "s16", "s17",
                                        "in:" + hex2(fifo_byte(true, 0)), "s16", "s17",
                                        "in:" + hex2(fifo_byte(true, 1)), "s16"}));
    EXPECT_EQ(decode(script.tail), std::vector<std::string>{"s16"});  // the read-out stays selected
}

TEST_F(Download, ProgressComesBeforeEvery4001stSample) {
    static uint8_t buffer[FIFO_SIZE];
    script.byte = [](int32_t) { return uint8_t{0}; };
    std::vector<int32_t> read_before;
    services.on_progress = [&](int32_t) { read_before.push_back(script.reads); };
    download_fifo(buffer, false, true);
    ASSERT_EQ(services.progress.size(), 98u);
    for (size_t m = 0; m < 98; ++m) {
        ASSERT_EQ(read_before[m], 4000 + 4001 * static_cast<int32_t>(m));
        ASSERT_EQ(services.progress[m], read_before[m] * 50 / FIFO_SIZE + 50);
    }
    EXPECT_EQ(services.progress.front(), 50);
    EXPECT_EQ(services.progress.back(), 99);
    services.progress.clear();
    download_fifo(buffer, true, true);
    EXPECT_EQ(services.progress.front(), 0);
    EXPECT_EQ(services.progress.back(), 49);
}

TEST_F(Download, GetDsoDataLaysOutEachMode) {
    const int32_t oldest = 0x2ABCD;
    script.byte = [](int32_t n) -> uint8_t {
        const uint8_t counter[3] = {0xCE, 0xAB, 0x02};
        if (n < 3) return counter[n];
        n -= 3;
        return n < FIFO_SIZE ? fifo_byte(true, n) : fifo_byte(false, n - FIFO_SIZE);
    };
    auto a = [&](int32_t k) { return fifo_byte(true, (k + oldest) % FIFO_SIZE); };
    auto b = [&](int32_t k) { return fifo_byte(false, (k + oldest) % FIFO_SIZE); };
    for (int8_t mode : {MODE_DUAL, MODE_SINGLE, MODE_LOGIC16, MODE_MIXED, int8_t{7}}) {
        std::memset(dso_structure.sample_area, 0x11, SAMPLE_AREA_SIZE);
        dso_structure.capture_mode = mode;
        script.reads = 0;
        services.progress.clear();
        // The buffers are written in one pass after the whole download.
        services.on_progress = [](int32_t) {
            ASSERT_EQ(dso_structure.channel_a[0], 0x11);
            ASSERT_EQ(dso_structure.channel_b[FIFO_SIZE - 1], 0x11);
        };
        get_dso_data();
        EXPECT_EQ(sample_count, oldest);
        EXPECT_EQ(services.progress.size(), 196u);
        EXPECT_EQ(decode(script.tail), (std::vector<std::string>{"s16", "w3:00", "s16", "s17", "s00"}));
        const uint8_t* area = dso_structure.sample_area;
        for (int32_t k = 0; k < FIFO_SIZE; ++k) {
            if (mode == MODE_DUAL || mode == MODE_MIXED) {
                ASSERT_EQ(area[k], a(k)) << k;
                ASSERT_EQ(area[FIFO_SIZE + k], b(k)) << k;
            } else if (mode == MODE_SINGLE || mode == MODE_LOGIC16) {
                ASSERT_EQ(area[2 * k], a(k)) << k;
                ASSERT_EQ(area[2 * k + 1], b(k)) << k;
            } else {
                ASSERT_EQ(area[k], 0x11) << k;
                ASSERT_EQ(area[FIFO_SIZE + k], 0x11) << k;
            }
        }
    }
}

}  // namespace
