#include "glowkit/cccoeff.h"

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>
#include <string_view>
#include <type_traits>

namespace {

constexpr const char* kTag = "[T9COEF20]";

// The file writes sizes and positions with "%zi": plain decimal digits, no sign,
// no leading zero, at most the largest signed 64-bit value. Anything else (octal
// or hexadecimal forms, a sign, blanks) is no number of this format.
bool parseDecimal(std::string_view text, std::uint64_t& out)
{
    if (text.empty() || (text.size() > 1 && text.front() == '0'))
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    std::uint64_t v = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || ptr != text.data() + text.size()
        || v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return false;
    out = v;
    return true;
}

// Parses "<key>=<decimal>" exactly.
bool parseSize(const std::string& line, const char* key, std::uint64_t& out)
{
    const std::string prefix = std::string(key) + "=";
    if (line.compare(0, prefix.size(), prefix) != 0)
        return false;
    return parseDecimal(std::string_view(line).substr(prefix.size()), out);
}

bool parseEntry(const std::string& line, ccCoeffFile::Entry& e)
{
    const std::string_view text(line);
    const std::size_t xEnd = text.find(',');
    const std::size_t yEnd = xEnd == std::string_view::npos ? xEnd : text.find(',', xEnd + 1);
    if (yEnd == std::string_view::npos || !parseDecimal(text.substr(0, xEnd), e.x)
        || !parseDecimal(text.substr(xEnd + 1, yEnd - xEnd - 1), e.y))
        return false;
    auto& m = e.m;
    const char* values = line.c_str() + yEnd + 1;
    int used = 0;
    const int n = std::sscanf(values, "%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf%n", &m[0], &m[1], &m[2], &m[3], &m[4],
                              &m[5], &m[6], &m[7], &m[8], &used);
    return n == 9 && yEnd + 1 + static_cast<std::size_t>(used) == line.size();
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
