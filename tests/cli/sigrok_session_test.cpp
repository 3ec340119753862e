// The sigrok session writer: the archive as libzip reads it back, and failed writes that
// leave the file they were to replace as it was. (sigrok-cli's own reading of the sessions
// of every mode is tests/cli/sigrok_session.sh.)
#include <gtest/gtest.h>
#include <zip.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <dirent.h>
#include <stdlib.h>  // mkdtemp
#include <sys/resource.h>
#include <unistd.h>

#include "capture/capture_channels.h"
#include "capture/dso_structure.h"
#include "services/capture_writers.h"

namespace {

dso_record& record = dso_structure;

// The session through the program's own output path; "" when written, else why not.
std::string write_session(const std::string& path, const capture_channel* channels, int count, int32_t first,
                          int32_t last) {
    output_request request{path, output_format::sr, {}};
    output_content content;
    for (int i = 0; i < count; ++i) content.channels[i] = channels[i];
    content.count = count;
    content.first = first;
    content.last = last;
    file_failure failure;
    if (!plan_output(path, request.plan, failure) || !write_capture_output(request, content, failure))
        return failure.what.empty() ? "failed" : failure.what;
    return "";
}

void fill_record(int8_t mode, int8_t rate_index) {
    for (int32_t n = 0; n < SAMPLE_AREA_SIZE; ++n) record.sample_area[n] = static_cast<uint8_t>((n * 37) ^ (n >> 7));
    record.capture_mode = mode;
    record.sample_rate_index = rate_index;
}

std::string entry(zip_t* archive, const char* name) {
    zip_stat_t st;
    if (zip_stat(archive, name, 0, &st) != 0) return "(missing)";
    std::string data(st.size, '\0');
    zip_file_t* f = zip_fopen(archive, name, 0);
    const zip_int64_t got = f ? zip_fread(f, &data[0], st.size) : -1;
    if (f) zip_fclose(f);
    return got == static_cast<zip_int64_t>(st.size) ? data : "(unreadable)";
}

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct temp_folder {
    std::string path;
    temp_folder() {
        char name[] = "/tmp/korvane-sr-XXXXXX";
        path = mkdtemp(name);
    }
    ~temp_folder() {
        for (const std::string& name : files()) std::remove((path + "/" + name).c_str());
        rmdir(path.c_str());
    }
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        DIR* d = opendir(path.c_str());
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
        return names;
    }
};

TEST(SigrokSession, MixedModeSubsetAsSigrokLaysItOut) {
    fill_record(MODE_MIXED, 5);
    capture_channel channels[MAX_CAPTURE_CHANNELS];
    int count = capture_channels(record, channels);
    char message[300] = "";
    ASSERT_TRUE(select_channels("b,D6,D1", channels, count, message, sizeof message));
    temp_folder folder;
    const std::string path = folder.path + "/mixed.sr";
    ASSERT_EQ(write_session(path, channels, count, 1001, 1010), "");

    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    ASSERT_NE(archive, nullptr) << error;
    const char* const names[] = {"version", "metadata", "logic-1-1", "analog-1-9-1"};
    ASSERT_EQ(zip_get_num_entries(archive, 0), 4);
    for (int i = 0; i < 4; ++i) EXPECT_STREQ(zip_get_name(archive, i, 0), names[i]);
    EXPECT_EQ(entry(archive, "version"), "2");
    // The inputs keep their bits within channel_a's bytes; B is numbered after all eight.
    EXPECT_EQ(entry(archive, "metadata"),
              "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\ntotal probes=8\n"
              "samplerate=1.5625 MHz\ntotal analog=1\nprobe2=D1\nprobe7=D6\nanalog9=B\nunitsize=1\n");
    EXPECT_EQ(entry(archive, "logic-1-1"), std::string(reinterpret_cast<const char*>(record.channel_a + 1001), 10));
    const std::string analogue = entry(archive, "analog-1-9-1");
    ASSERT_EQ(analogue.size(), 40u);
    for (int k = 0; k < 10; ++k) {
        const uint8_t* b = reinterpret_cast<const uint8_t*>(analogue.data()) + 4 * k;
        const uint32_t bits = b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
        float value;
        std::memcpy(&value, &bits, sizeof value);
        EXPECT_EQ(value, record.channel_b[1001 + k] - 128.0f) << "sample " << 1001 + k;
    }
    zip_discard(archive);
}

TEST(SigrokSession, AFailedWriteLeavesTheOldFileAsItWas) {
    fill_record(MODE_DUAL, -1);
    capture_channel channels[MAX_CAPTURE_CHANNELS];
    const int count = capture_channels(record, channels);
    temp_folder folder;
    const std::string old_file = folder.path + "/old.sr";
    std::ofstream(old_file) << "the old session";

    // No rate: refused before anything is written.
    EXPECT_NE(write_session(old_file, channels, count, 0, 0x5FFFF).find("rate index -1"), std::string::npos);
    record.sample_rate_index = 0;

    const std::string elsewhere = folder.path + "/missing/new.sr";
    EXPECT_NE(write_session(elsewhere, channels, count, 0, 10).find("No such file"), std::string::npos);

    // The file system refuses the archive halfway (a size limit, as a full disk would).
    rlimit limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    rlimit small = limit;
    small.rlim_cur = 100000;
    void (*was)(int) = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string refused = write_session(old_file, channels, count, 0, 0x5FFFF);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, was);
    EXPECT_NE(refused.find("File too large"), std::string::npos) << refused;

    EXPECT_EQ(contents(old_file), "the old session");
    EXPECT_EQ(folder.files(), std::vector<std::string>{"old.sr"});
}

}  // namespace
