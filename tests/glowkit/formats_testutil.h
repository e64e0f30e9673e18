#pragma once

// Helpers of the file-format tests: a scratch folder per test, whole files,
// captured output and independent checks run as outside programs.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include <unistd.h>

namespace formatstest {

struct Output {
    std::string out, err;
};

// Runs f and returns what it printed on standard output and standard error.
inline Output captured(const std::function<void()>& f)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    f();
    Output o;
    o.err = testing::internal::GetCapturedStderr();
    o.out = testing::internal::GetCapturedStdout();
    return o;
}

inline std::string slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline void spit(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Runs a shell command; returns its exit status and puts its standard output in out.
inline int run(const std::string& command, std::string& out)
{
    out.clear();
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return -1;
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    return pclose(p);
}

// Runs a python3 helper of this folder with the given arguments. The system's
// python3 is the one with the Debian numpy and astropy.
inline std::string python(const std::string& script, const std::string& args)
{
    std::string out;
    const int rc = run("/usr/bin/python3 " + std::string(GLOWKIT_TEST_SOURCE_DIR) + "/" + script + " " + args, out);
    EXPECT_EQ(rc, 0) << script << " " << args << "\n" << out;
    return out;
}

// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchTest : public testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        dir = (std::filesystem::temp_directory_path()
               / (std::string("glowkit-") + info->test_suite_name() + "-" + info->name() + "-"
                  + std::to_string(::getpid())))
                  .string();
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string path(const std::string& name) const { return dir + "/" + name; }

    std::string dir;
};

} // namespace formatstest
