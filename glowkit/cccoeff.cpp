#include "glowkit/cccoeff.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <type_traits>

namespace {

constexpr const char* kTag = "[T9COEF20]";

// Parses "<key>=<decimal>" exactly.
bool parseSize(const std::string& line, const char* key, std::uint64_t& out)
{
    const std::string prefix = std::string(key) + "=";
    if (line.compare(0, prefix.size(), prefix) != 0)
        return false;
    long long v = 0;
    int used = 0;
    if (std::sscanf(line.c_str() + prefix.size(), "%lli%n", &v, &used) != 1
        || prefix.size() + static_cast<std::size_t>(used) != line.size())
        return false;
    out = static_cast<std::uint64_t>(v);
    return true;
}

bool parseEntry(const std::string& line, ccCoeffFile::Entry& e)
{
    long long x = 0;
    long long y = 0;
    auto& m = e.m;
    int used = 0;
    const int n = std::sscanf(line.c_str(), "%lli,%lli,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf%n", &x, &y,
                              &m[0], &m[1], &m[2], &m[3], &m[4], &m[5], &m[6], &m[7], &m[8], &used);
    if (n != 11 || static_cast<std::size_t>(used) != line.size())
        return false;
    e.x = static_cast<std::uint64_t>(x);
    e.y = static_cast<std::uint64_t>(y);
    return true;
}

// The file writes sizes with "%zi", the signed size type.
std::make_signed_t<std::size_t> signedSize(std::uint64_t v)
{
    return static_cast<std::make_signed_t<std::size_t>>(v);
}

} // namespace

ccCoeffFile ccCoeffFile::operator*(const ccCoeffFile& other) const
{
    if (width != other.width || height != other.height || other.entries.size() < entries.size()) {
        std::cerr << "ccCoeffFile: cannot multiply sets of different sizes" << std::endl;
        return {};
    }
    ccCoeffFile result;
    result.width = width;
    result.height = height;
    result.entries.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& a = entries[i].m;
        const auto& b = other.entries[i].m;
        Entry e;
        e.x = entries[i].x;
        e.y = entries[i].y;
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                e.m[r * 3 + c] = a[r * 3] * b[c] + a[r * 3 + 1] * b[3 + c] + a[r * 3 + 2] * b[6 + c];
        result.entries.push_back(e);
    }
    return result;
}

int ccCoeffHandler::writeFile(const ccCoeffFile& coefficients, const std::string& path) const
{
    std::FILE* f = std::fopen(path.c_str(), "w+");
    if (!f) {
        std::cerr << "Can't open file " << path << ": " << std::strerror(errno) << std::endl;
        return -1;
    }
    std::fprintf(f, "[T9COEF20]\nwidth=%zi\nheight=%zi\n", signedSize(coefficients.width),
                 signedSize(coefficients.height));
    for (const auto& e : coefficients.entries) {
        const auto& m = e.m;
        std::fprintf(f, "%zi,%zi,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf\n", signedSize(e.x),
                     signedSize(e.y), m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8]);
    }
    return std::fclose(f);
}

ccCoeffFile ccCoeffHandler::readFile(const std::string& path) const
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "Can't open file " << path << ": " << std::strerror(errno) << std::endl;
        return {};
    }
    ccCoeffFile result;
    std::string line;
    if (!std::getline(in, line) || line != kTag) {
        std::cerr << "Not a coefficient file: " << path << std::endl;
        return {};
    }
    std::string w;
    std::string h;
    if (!std::getline(in, w) || !parseSize(w, "width", result.width) || !std::getline(in, h)
        || !parseSize(h, "height", result.height)) {
        std::cerr << "Bad coefficient file header: " << path << std::endl;
        return {};
    }
    std::size_t lineNumber = 3;
    while (std::getline(in, line)) {
        ++lineNumber;
        ccCoeffFile::Entry e;
        if (!parseEntry(line, e)) {
            std::cerr << "Bad coefficient entry, line " << lineNumber << ": " << path << std::endl;
            return {};
        }
        result.entries.push_back(e);
    }
    return result;
}
