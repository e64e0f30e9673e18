#pragma once

// Per-pixel colour-correction coefficients: one 3 x 3 matrix for each pixel of
// a width x height area, kept as a small "[T9COEF20]" text file.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct ccCoeffFile {
    struct Entry {
        std::uint64_t x = 0;
        std::uint64_t y = 0;
        // 3 x 3 matrix stored row by row: m[0] m[1] m[2] is row 0.
        std::array<double, 9> m{};

        bool operator==(const Entry&) const = default;
    };

    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::vector<Entry> entries; // one per pixel, in file order

    bool operator==(const ccCoeffFile&) const = default;

    // Chains two sets pixel by pixel: entry i of the result has this set's x, y and
    // the matrix product this.m x other.m (row-major). Sets of different width or
    // height, or an operand with fewer entries than this one, give an empty set and
    // one line on stderr.
    ccCoeffFile operator*(const ccCoeffFile& other) const;
};

class ccCoeffHandler {
public:
    // Writes the set (an existing file is truncated) and returns the result of
    // closing the file: 0 on success. A path that cannot be opened gives -1 and
    // "Can't open file <path>: <reason>" on stderr.
    int writeFile(const ccCoeffFile& coefficients, const std::string& path) const;

    // Reads what writeFile writes. Sizes and positions are plain decimal numbers up
    // to the largest signed 64-bit value, as "%zi" writes them; a sign, a leading
    // zero or a hexadecimal form is no such number. A file that cannot be opened or
    // does not hold a coefficient set gives an empty set and one line on stderr.
    ccCoeffFile readFile(const std::string& path) const;
};
