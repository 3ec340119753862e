// Files written on Linux: a signal in the middle of a write leaves the old file and no
// temporary file, whether the file system gives unnamed temporary files or not; a socket is
// written in place.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "capture/output_file_linux.h"
#include "support/temp_dir.h"

namespace {

// Starts a replacement of old.csv, writes part of it and is ended by SIGTERM.
void interrupted_write(const std::string& target) {
    output_plan plan;
    output_file out;
    file_failure failure;
    if (!plan_output(target, plan, failure) || !open_output(plan, out, false, failure)) _exit(3);
    const std::string part(100000, 'n');
    if (!write_output_bytes(out, part.data(), part.size())) _exit(4);
    raise(SIGTERM);
    _exit(5);  // not reached: the signal ends the program
}

TEST(OutputFileDeathTest, ASignalLeavesTheOldFileAndNoTemporaryFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (bool named : {false, true}) {
        temp_dir dir;
        const std::vector<unsigned char> old_bytes(10, 'o');
        write_bytes(dir.file("old.csv"), old_bytes);
        EXPECT_EXIT(
            {
                use_named_temporaries(named);
                interrupted_write(dir.file("old.csv"));
            },
            ::testing::KilledBySignal(SIGTERM), "")
            << (named ? "named" : "unnamed");
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"old.csv"}) << (named ? "named" : "unnamed");
        EXPECT_EQ(read_bytes(dir.file("old.csv")), old_bytes);
    }
}

TEST(OutputFile, ASocketIsWrittenInPlace) {
    temp_dir dir;
    const std::string path = dir.file("listener");
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    std::string received;
    std::thread reader([&] {
        const int peer = accept(listener, nullptr, nullptr);
        char block[256];
        for (ssize_t n; (n = read(peer, block, sizeof block)) > 0;) received.append(block, static_cast<size_t>(n));
        close(peer);
    });

    output_plan plan;
    output_file out;
    file_failure failure;
    ASSERT_TRUE(plan_output(path, plan, failure)) << failure.what;
    EXPECT_EQ(plan.kind, output_kind::in_place);
    ASSERT_TRUE(open_output(plan, out, false, failure)) << failure.what;
    ASSERT_TRUE(write_output_bytes(out, "1,2\n", 4));
    EXPECT_TRUE(commit_output(out, failure)) << failure.what;
    reader.join();
    close(listener);
    EXPECT_EQ(received, "1,2\n");
    struct stat st;
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
}

}  // namespace
