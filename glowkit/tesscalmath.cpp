#include "glowkit/tesscalmath.h"

namespace TessCal {

XYZ xyy2xyz(const XY& xy, float Y)
{
    if (xy.y == 0)
        return {};
    const float q = Y / xy.y;
    XYZ r;
    r.X = xy.x * q;
    r.Y = Y;
    r.Z = static_cast<float>(double(q) * ((1.0 - double(xy.x)) - double(xy.y)));
    return r;
}

XYZ xyy2xyz(const XYY& v)
{
    return xyy2xyz(XY{v.x, v.y}, v.Y);
}

XYY xyz2xyy(const XYZ& v)
{
    float s = (v.Y + v.X) + v.Z;
    if (s == 0)
        s = 1;
    return {v.X / s, v.Y / s, v.Y};
}

PixMeasXYZ xyy2xyz(const PixMeasXYY& v)
{
    PixMeasXYZ r;
    for (size_t i = 0; i < 3; ++i)
        r[i] = xyy2xyz(v[i]);
    return r;
}

PixMeasXYY xyz2xyy(const PixMeasXYZ& v)
{
    PixMeasXYY r;
    for (size_t i = 0; i < 3; ++i)
        r[i] = xyz2xyy(v[i]);
    return r;
}

XYZ operator*(const XYZ& v, float f)
{
    return {v.X * f, v.Y * f, v.Z * f};
}

XYZ operator+(const XYZ& a, const XYZ& b)
{
    return {a.X + b.X, a.Y + b.Y, a.Z + b.Z};
}

float operator*(const XYZ& a, const XYZ& b)
{
    float s = a.X * b.X;
    s += a.Y * b.Y;
    s += a.Z * b.Z;
    return s;
}

XYZ operator*(const PixMeasXYZ& m, const XYZ& v)
{
    return {m[0] * v, m[1] * v, m[2] * v};
}

namespace {

// Element access by row and column.
float& at(PixMeasXYZ& m, size_t r, size_t c)
{
    XYZ& row = m[r];
    return c == 0 ? row.X : c == 1 ? row.Y : row.Z;
}

float at(const PixMeasXYZ& m, size_t r, size_t c)
{
    const XYZ& row = m[r];
    return c == 0 ? row.X : c == 1 ? row.Y : row.Z;
}

} // namespace

PixMeasXYZ operator*(const PixMeasXYZ& a, const PixMeasXYZ& b)
{
    PixMeasXYZ r;
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 3; ++j) {
            float s = at(a, i, 0) * at(b, 0, j);
            s += at(a, i, 1) * at(b, 1, j);
            s += at(a, i, 2) * at(b, 2, j);
            at(r, i, j) = s;
        }
    return r;
}

PixMeasXYZ operator*(const PixMeasXYZ& m, float f)
{
    PixMeasXYZ r;
    for (size_t i = 0; i < 3; ++i)
        r[i] = m[i] * f;
    return r;
}

double cal_det(double a, double b, double c, double d)
{
    return a * d - b * c;
}

PixMeasXYZ operator~(const PixMeasXYZ& m)
{
    double e[3][3];
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 3; ++j)
            e[i][j] = at(m, i, j);

    // cof[i][j]: cofactor of element (i, j).
    double cof[3][3];
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 3; ++j) {
            const size_t r0 = i == 0 ? 1 : 0, r1 = i == 2 ? 1 : 2;
            const size_t c0 = j == 0 ? 1 : 0, c1 = j == 2 ? 1 : 2;
            const double minor = cal_det(e[r0][c0], e[r0][c1], e[r1][c0], e[r1][c1]);
            cof[i][j] = ((i + j) % 2 == 0) ? minor : -minor;
        }
    const double det = e[0][0] * cof[0][0] + e[0][1] * cof[0][1] + e[0][2] * cof[0][2];

    PixMeasXYZ r;
    if (det == 0)
        return r;
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 3; ++j)
            at(r, i, j) = static_cast<float>(cof[j][i] / det);
    return r;
}

PixMeasXYZ cal_transpose(const PixMeasXYZ& m)
{
    PixMeasXYZ r;
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 3; ++j)
            at(r, i, j) = at(m, j, i);
    return r;
}

PixMeasXYZ cal_targets2xyz(float Y, const XY& white, const PixXY& primaries)
{
    const XYZ W = xyy2xyz(white, Y);

    PixMeasXYZ P;
    for (size_t i = 0; i < 3; ++i) {
        const XY& p = primaries[i];
        if (p.y == 0)
            continue;
        P[i] = {p.x / p.y, 1.0f, static_cast<float>((1.0 - double(p.x) - double(p.y)) / double(p.y))};
    }

    // S = W as a row vector times inverse(P).
    const PixMeasXYZ inv = ~P;
    const XYZ S = cal_transpose(inv) * W;

    PixMeasXYZ r;
    r[0] = P[0] * S.X;
    r[1] = P[1] * S.Y;
    r[2] = P[2] * S.Z;
    return r;
}

void cal_ideal(PixMeasXYZ& ideal, const PixMeasXYZ& gamut)
{
    bool allZero = true;
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 3; ++j)
            if (at(ideal, i, j) != 0)
                allZero = false;
    if (allZero) {
        ideal = gamut;
        return;
    }

    PixMeasXYZ D = ideal * ~gamut;
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 3; ++j)
            if (at(D, i, j) < 0)
                at(D, i, j) = 0;
    for (size_t j = 0; j < 3; ++j) {
        const float s = at(D, 0, j) + at(D, 1, j) + at(D, 2, j);
        if (s > 1)
            for (size_t i = 0; i < 3; ++i)
                at(D, i, j) /= s;
    }
    ideal = D * gamut;
}

namespace {

// Averages N floats per entry, each with its own compensated sum.
template <size_t N, typename T, typename Get>
std::array<float, N> kahanMean(const std::vector<T>& list, Get get)
{
    std::array<float, N> sum{}, comp{};
    for (const T& e : list) {
        for (size_t k = 0; k < N; ++k) {
            const float y = get(e, k) - comp[k];
            const float t = sum[k] + y;
            comp[k] = (t - sum[k]) - y;
            sum[k] = t;
        }
    }
    std::array<float, N> mean{};
    if (list.empty())
        return mean;
    const float n = static_cast<float>(list.size());
    for (size_t k = 0; k < N; ++k)
        mean[k] = sum[k] / n;
    return mean;
}

} // namespace

PixMeasXYZ cal_avg(const std::vector<PixMeasXYZ>& list)
{
    const auto m = kahanMean<9>(list, [](const PixMeasXYZ& e, size_t k) { return at(e, k / 3, k % 3); });
    PixMeasXYZ r;
    for (size_t k = 0; k < 9; ++k)
        at(r, k / 3, k % 3) = m[k];
    return r;
}

PixMeasXYY cal_avg(const std::vector<PixMeasXYY>& list)
{
    auto get = [](const PixMeasXYY& e, size_t k) {
        const XYY& c = e[k / 3];
        return k % 3 == 0 ? c.x : k % 3 == 1 ? c.y : c.Y;
    };
    const auto m = kahanMean<15>(list, get);
    PixMeasXYY r;
    for (size_t i = 0; i < 5; ++i)
        r[i] = {m[3 * i], m[3 * i + 1], m[3 * i + 2]};
    return r;
}

} // namespace TessCal
