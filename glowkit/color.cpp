#include "glowkit/color.h"

#include <glpk.h>

#include <cmath>
#include <cstdlib>

namespace Color {

namespace {

bool positiveFinite(double v)
{
    return std::isfinite(v) && v > 0.0;
}

std::uint8_t channel(rgb32_t c, int shift)
{
    return static_cast<std::uint8_t>((c >> shift) & 0xFFu);
}

rgb32_t pack(int r, int g, int b)
{
    return (static_cast<rgb32_t>(r & 0xFF) << 16) | (static_cast<rgb32_t>(g & 0xFF) << 8)
           | static_cast<rgb32_t>(b & 0xFF);
}

// Deletes the problem however solveLP leaves.
struct Problem {
    glp_prob* p = glp_create_prob();
    ~Problem() { glp_delete_prob(p); }
};

} // namespace

std::vector<double> solveLP(std::span<const CIEXYZ::xyY<double>> primaries, const CIEXYZ::xyY<double>& target,
                            const std::set<std::size_t>& fixed, const std::set<std::size_t>& objectiveSet,
                            Objective objective, double total)
{
    const double tx = target.x;
    const double ty = target.y;
    if (primaries.empty() || !std::isfinite(tx) || !std::isfinite(ty) || !std::isfinite(total))
        return {};
    // A free primary with no light would be a column fixed at 0; a fixed one with
    // no light simply adds nothing to the mixture. No primary has negative light.
    for (std::size_t i = 0; i < primaries.size(); ++i) {
        const auto& p = primaries[i];
        const bool lightOk = fixed.count(i) ? std::isfinite(p.Y) && p.Y >= 0.0 : positiveFinite(p.Y);
        if (!std::isfinite(p.x) || !positiveFinite(p.y) || !lightOk)
            return {};
    }

    Problem problem;
    glp_prob* lp = problem.p;
    double sx = 0.0;
    double sy = 0.0;
    double fixedY = 0.0;
    std::vector<int> column(primaries.size(), 0); // 1-based GLPK column, 0 for a fixed primary
    int columns = 0;
    for (std::size_t i = 0; i < primaries.size(); ++i) {
        const auto& p = primaries[i];
        if (fixed.count(i)) {
            sx += p.Y * (tx - p.x) / p.y;
            sy += p.Y * (ty - p.y) / p.y;
            fixedY += p.Y;
        } else {
            column[i] = ++columns;
        }
    }
    if (columns > 0)
        glp_add_cols(lp, columns);
    for (std::size_t i = 0; i < primaries.size(); ++i) {
        if (column[i])
            glp_set_col_bnds(lp, column[i], GLP_DB, 0.0, primaries[i].Y);
    }

    const int rows = total != 0.0 ? 3 : 2;
    glp_add_rows(lp, rows);
    glp_set_row_name(lp, 1, "ctx");
    glp_set_row_bnds(lp, 1, GLP_FX, -sx, -sx);
    glp_set_row_name(lp, 2, "cty");
    glp_set_row_bnds(lp, 2, GLP_FX, -sy, -sy);
    if (rows == 3) {
        glp_set_row_name(lp, 3, "total");
        glp_set_row_bnds(lp, 3, GLP_FX, total - fixedY, total - fixedY);
    }

    for (std::size_t i = 0; i < primaries.size(); ++i) {
        const bool counted = objectiveSet.empty() || objectiveSet.count(i);
        if (column[i] && counted)
            glp_set_obj_coef(lp, column[i], 1.0);
    }
    glp_set_obj_dir(lp, objective == 0 ? GLP_MAX : GLP_MIN);

    // Index 0 of GLPK's arrays is unused.
    std::vector<int> ia(1, 0);
    std::vector<int> ja(1, 0);
    std::vector<double> ar(1, 0.0);
    auto add = [&](int row, int col, double v) {
        ia.push_back(row);
        ja.push_back(col);
        ar.push_back(v);
    };
    for (std::size_t i = 0; i < primaries.size(); ++i)
        if (column[i])
            add(1, column[i], (tx - primaries[i].x) / primaries[i].y);
    for (std::size_t i = 0; i < primaries.size(); ++i)
        if (column[i])
            add(2, column[i], (ty - primaries[i].y) / primaries[i].y);
    if (rows == 3)
        for (std::size_t i = 0; i < primaries.size(); ++i)
            if (column[i])
                add(3, column[i], 1.0);
    glp_load_matrix(lp, static_cast<int>(ia.size()) - 1, ia.data(), ja.data(), ar.data());

    glp_smcp parm;
    glp_init_smcp(&parm);
    parm.msg_lev = GLP_MSG_OFF;
    // glp_simplex also returns 0 for a problem it proved infeasible: only an optimal
    // solution is an answer.
    if (glp_simplex(lp, &parm) != 0 || glp_get_status(lp) != GLP_OPT)
        return {};

    std::vector<double> result(primaries.size());
    for (std::size_t i = 0; i < primaries.size(); ++i)
        result[i] = column[i] ? glp_get_col_prim(lp, column[i]) : primaries[i].Y;
    return result;
}

void Gradient::clearSteps()
{
    m_count = 0;
}

void Gradient::addStep(std::uint8_t position, rgb32_t colour)
{
    if (m_count >= maxSteps)
        return;
    m_steps[m_count++] = Step{position, colour};
}

void Gradient::setSteps(const Step* steps, std::uint8_t n)
{
    m_count = n < maxSteps ? n : maxSteps;
    for (std::uint8_t i = 0; i < m_count; ++i)
        m_steps[i] = steps[i];
}

rgb32_t Gradient::getColor(std::uint8_t pos) const
{
    if (m_count == 0)
        return 0;
    if (pos <= m_steps[0].position)
        return m_steps[0].colour;
    const Step& last = m_steps[m_count - 1];
    if (pos >= last.position)
        return last.colour;
    for (std::uint8_t i = 0; i + 1 < m_count; ++i) {
        const Step& a = m_steps[i];
        const Step& b = m_steps[i + 1];
        if (a.position <= pos && pos < b.position) {
            const auto t = static_cast<std::uint8_t>(((pos - a.position) * 255) / (b.position - a.position));
            return ColorBlend(a.colour, b.colour, t);
        }
    }
    return 0;
}

rgb32_t ColorBlend(rgb32_t a, rgb32_t b, std::uint8_t t)
{
    int out[3];
    for (int k = 0; k < 3; ++k) {
        const int shift = 16 - 8 * k;
        const int ca = channel(a, shift);
        const int cb = channel(b, shift);
        out[k] = ca + (cb - ca) * t / 255;
    }
    return pack(out[0], out[1], out[2]);
}

rgb32_t ColorFade(rgb32_t c, std::uint8_t k)
{
    return pack(channel(c, 16) * k / 255, channel(c, 8) * k / 255, channel(c, 0) * k / 255);
}

rgb32_t ColorWheel(std::uint8_t p)
{
    const int v = p;
    if (v <= 42)
        return pack(255, 255 * v / 42, 0);
    if (v <= 85)
        return pack(255 - 255 * (v - 42) / 43, 255, 0);
    if (v <= 127)
        return pack(0, 255, 255 * (v - 85) / 42);
    if (v <= 170)
        return pack(0, 255 - 255 * (v - 127) / 43, 255);
    if (v <= 212)
        return pack(255 * (v - 170) / 42, 0, 255);
    return pack(255, 0, 255 - 255 * (v - 212) / 44);
}

rgb32_t ColorRandom()
{
    return ColorWheel(static_cast<std::uint8_t>(std::rand() & 0xFF));
}

std::int32_t fade(std::int32_t from, std::int32_t to, std::int32_t value, std::int32_t lo, std::int32_t hi)
{
    if (hi == lo)
        return from;
    // Computed in 64 bits, so that wide ranges do not overflow on the way.
    const std::int64_t r = static_cast<std::int64_t>(from)
                           + ((static_cast<std::int64_t>(value) - lo) * (static_cast<std::int64_t>(to) - from))
                                 / (static_cast<std::int64_t>(hi) - lo);
    return static_cast<std::int32_t>(r);
}

} // namespace Color
