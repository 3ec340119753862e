// Runs of captures on the simulated device: Single, Normal and Auto, Stop during a wait and
// during a download, a fault, and the record given up to other threads while the run waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "hardware/capture_services.h"
#include "hardware/port.h"
#include "hardware/run_loop.h"
#include "simulator/simulated_device.h"

namespace {

// The device, with every access counted.
struct counted_device final : port_bus {
    simulated_device device;
    std::atomic<long> accesses{0};
    uint8_t in(uint16_t address) override {
        ++accesses;
        return device.in(address);
    }
    void out(uint16_t address, uint8_t value) override {
        ++accesses;
        device.out(address, value);
    }
};

struct taken {
    dso_record header;  // the header and the first samples (the whole record is large)
    bool triggered;
};

struct recorder final : run_observer {
    std::vector<taken> captures;
    std::vector<bool> untriggered_waits;
    std::function<void(recorder&)> on_wait = [](recorder&) {};
    std::function<void(recorder&, int32_t)> on_progress = [](recorder&, int32_t) {};
    std::function<void(recorder&)> on_capture = [](recorder&) {};
    int fail_after = -1;  // captures after which failed() says so
    void waiting(double, bool untriggered) override {
        untriggered_waits.push_back(untriggered);
        on_wait(*this);
    }
    void downloading(int32_t percent) override { on_progress(*this, percent); }
    void captured(const dso_record& record, bool triggered) override {
        taken t{};
        std::memcpy(&t.header, &record, 64);
        t.triggered = triggered;
        captures.push_back(t);
        on_capture(*this);
    }
    bool failed() override { return fail_after >= 0 && static_cast<int>(captures.size()) >= fail_after; }
};

class RunLoop : public ::testing::Test {
protected:
    static counted_device& bus() {
        static counted_device* device = new counted_device;  // large: on the heap, for the run
        return *device;
    }
    void SetUp() override {
        bus().device.set_instant(true);
        set_port_bus(&bus());
        port_address = simulated_device::BASE_ADDRESS;
    }
    void TearDown() override { set_port_bus(nullptr); }

    const run_settings dual_on_a{0, TRIGGER_CHANNEL_A, 40 + 127, 0, 0, MODE_DUAL};
    const run_settings never{0, TRIGGER_CHANNEL_A, 254, 0, 0, MODE_DUAL};  // above the sine's peak
};

TEST_F(RunLoop, SingleTakesOneCaptureAndNormalRearmsUntilStopped) {
    recorder single;
    EXPECT_EQ(run_captures(run_mode::single, dual_on_a, 1, single), run_end::done);
    ASSERT_EQ(single.captures.size(), 1u);
    EXPECT_TRUE(single.captures[0].triggered);
    EXPECT_EQ(single.captures[0].header.trigger_value, 167);
    EXPECT_EQ(single.captures[0].header.capture_mode, MODE_DUAL);

    recorder normal;
    normal.on_capture = [](recorder& r) {
        if (r.captures.size() == 3) stop_run();
    };
    const run_settings logic{0, TRIGGER_CHANNEL_A, 0x10, 0, 2, MODE_LOGIC16};
    EXPECT_EQ(run_captures(run_mode::normal, logic, 1, normal), run_end::stopped);
    ASSERT_EQ(normal.captures.size(), 3u);
    for (const taken& t : normal.captures) EXPECT_EQ(t.header.capture_mode, MODE_LOGIC16);
}

TEST_F(RunLoop, AutoTakesCapturesWithoutATriggerAfterTheHoldOff) {
    recorder r;
    r.on_capture = [](recorder& rec) {
        if (rec.captures.size() == 2) stop_run();
    };
    EXPECT_EQ(run_captures(run_mode::automatic, never, 0.05, r), run_end::stopped);
    ASSERT_EQ(r.captures.size(), 2u);
    for (const taken& t : r.captures) {
        EXPECT_FALSE(t.triggered);
        EXPECT_EQ(t.header.trigger_source, TRIGGER_NONE);
        EXPECT_EQ(t.header.pretrigger, 0);
    }
    // The waits for a trigger came before each capture without one, which was announced.
    EXPECT_FALSE(r.untriggered_waits.front());
    EXPECT_NE(std::find(r.untriggered_waits.begin(), r.untriggered_waits.end(), true), r.untriggered_waits.end());
    // The next run arms with its own settings: a trigger that comes is taken as one.
    recorder next;
    EXPECT_EQ(run_captures(run_mode::single, dual_on_a, 0.05, next), run_end::done);
    EXPECT_TRUE(next.captures.at(0).triggered);
}

TEST_F(RunLoop, StopCancelsAWaitAtOnceButLetsADownloadFinish) {
    // A stop while the run waits for a trigger that never comes: no port access after it.
    recorder waiting;
    std::atomic<long> at_stop{-1};
    waiting.on_wait = [&](recorder& r) {
        if (r.untriggered_waits.size() == 3) {
            at_stop = bus().accesses.load();
            stop_run();
        }
    };
    EXPECT_EQ(run_captures(run_mode::normal, never, 1, waiting), run_end::stopped);
    EXPECT_TRUE(waiting.captures.empty());
    EXPECT_EQ(bus().accesses.load(), at_stop.load());

    // A stop during the download: the capture is delivered, then the run ends.
    recorder downloading;
    downloading.on_progress = [](recorder&, int32_t percent) {
        if (percent == 0) stop_run();  // as the download begins
    };
    EXPECT_EQ(run_captures(run_mode::normal, dual_on_a, 1, downloading), run_end::stopped);
    EXPECT_EQ(downloading.captures.size(), 1u);

    // A stop before a run does not reach it.
    stop_run();
    recorder fresh;
    EXPECT_EQ(run_captures(run_mode::single, dual_on_a, 1, fresh), run_end::done);
}

TEST_F(RunLoop, AFaultEndsTheRunWithoutItsCapture) {
    recorder r;
    r.fail_after = 0;  // the first capture failed
    EXPECT_EQ(run_captures(run_mode::normal, dual_on_a, 1, r), run_end::failed);
    EXPECT_TRUE(r.captures.empty());
}

TEST_F(RunLoop, TheRecordIsGivenUpWhileTheRunWaits) {
    // Another thread takes the record during a wait and leaves another mode in it; the capture
    // still comes out as the run's, laid out as Dual Channel (channel A the sine, not the
    // interleaved bytes of 16 Bit Logic).
    recorder r;
    bool locked = false;
    r.on_wait = [&](recorder&) {
        std::thread other([&] {
            if (record_mutex().try_lock()) {
                locked = true;
                dso_structure.capture_mode = MODE_LOGIC16;
                dso_structure.trigger_value = 7;
                record_mutex().unlock();
            }
        });
        other.join();
    };
    const run_settings pretriggered{1000, TRIGGER_CHANNEL_A, 127, 0, 0, MODE_DUAL};
    EXPECT_EQ(run_captures(run_mode::single, pretriggered, 1, r), run_end::done);
    EXPECT_TRUE(locked);
    ASSERT_EQ(r.captures.size(), 1u);
    EXPECT_EQ(r.captures[0].header.capture_mode, MODE_DUAL);
    EXPECT_EQ(r.captures[0].header.trigger_value, 127);
    // The trigger sample, where the sine rises through the level.
    EXPECT_GE(dso_structure.channel_a[1000], 127);
    EXPECT_LT(dso_structure.channel_a[990], 127);
}

}  // namespace
