// A fresh folder for the files of one test, removed with everything in it afterwards.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

class temp_dir {
public:
    // The name is the same in a death-test child, which runs the test again in a new
    // process: the run id travels in the environment and the rest follows the test.
    temp_dir() {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string test_name = test ? std::string(test->test_suite_name()) + "." + test->name() : "none";
        static std::string last_test;
        static int sequence = 0;
        if (test_name != last_test) {
            last_test = test_name;
            sequence = 0;
        }
        path_ = std::filesystem::temp_directory_path() /
                ("korvane-test-" + run_id() + "-" + test_name + "-" + std::to_string(sequence++));
        std::filesystem::create_directories(path_);
    }
    ~temp_dir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

    // Names of everything in the folder.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_))
            names.push_back(e.path().filename().string());
        return names;
    }

private:
    static std::string run_id() {
        static std::string id;
        if (!id.empty()) return id;
        if (const char* inherited = std::getenv("KORVANE_TEST_RUN")) return id = inherited;
        std::random_device rd;
        id = std::to_string(rd()) + std::to_string(rd());
        static std::string assignment;
        assignment = "KORVANE_TEST_RUN=" + id;
        putenv(assignment.data());
        return id;
    }
    std::filesystem::path path_;
};

inline std::vector<unsigned char> read_bytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

inline void write_bytes(const std::string& name, const std::vector<unsigned char>& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>

// Makes writes beyond the given file size fail, as on a full disk (for a death-test child).
inline void limit_file_size(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit;
    limit.rlim_cur = bytes;
    limit.rlim_max = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
}
#endif
