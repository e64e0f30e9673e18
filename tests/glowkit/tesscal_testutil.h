#pragma once

// Helpers shared by the TessCal tests: streams built by the independent
// python3 oracle (tesscal_oracle.py, run at build time into
// TESSCAL_ORACLE_DIR), and capture of what a call prints.

#include "glowkit/tesscal.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>

namespace tesscaltest {

inline std::string oracleFile(const std::string& name)
{
    std::ifstream f(std::string(TESSCAL_ORACLE_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(f.good()) << "oracle output missing: " << name;
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Bytes of an oracle stream.
inline std::string oracle(const std::string& name)
{
    return oracleFile(name + ".klv");
}

// Expected standard-error text of an oracle stream.
inline std::string oracleErr(const std::string& name)
{
    return oracleFile(name + ".err");
}

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

inline uint32_t be32(const std::string& s, size_t at)
{
    return (uint32_t(uint8_t(s[at])) << 24) | (uint32_t(uint8_t(s[at + 1])) << 16) |
           (uint32_t(uint8_t(s[at + 2])) << 8) | uint32_t(uint8_t(s[at + 3]));
}

} // namespace tesscaltest
