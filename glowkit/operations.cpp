#include "glowkit/operations.h"

#include <cmath>
#include <iostream>
#include <limits>

using nlohmann::json;

namespace {

// A real that the document can hold again: JSON has no infinity, so a number
// beyond the float range (saved as null) is nlohmann's out_of_range here.
template <typename Real>
Real finite(const json& v)
{
    const Real r = v.get<Real>();
    if (!std::isfinite(r))
        throw json::out_of_range::create(406, "number overflow converting " + v.dump() + " to a real", &v);
    return r;
}

// A grid as an array of rows; the column count is that of row 0, and a shorter
// row is nlohmann's out_of_range.
Vector2D<float> readGrid(const json& g)
{
    const std::size_t rows = g.size();
    Vector2D<float> grid;
    if (rows == 0 || g.is_null())
        return grid;
    const std::size_t cols = g.at(0).size();
    // Row by row, so that what is allocated stays within what the document holds.
    for (std::size_t r = 0; r < rows; ++r) {
        const json& row = g.at(r);
        std::vector<float> values(cols);
        for (std::size_t c = 0; c < cols; ++c)
            values[c] = finite<float>(row.at(c));
        grid.push_back(std::move(values));
    }
    return grid;
}

json gridJson(const Vector2D<float>& grid)
{
    json rows = json::array();
    for (const auto& row : grid) {
        json r = json::array();
        for (float v : row)
            r.push_back(static_cast<double>(v));
        rows.push_back(std::move(r));
    }
    return rows;
}

bool usableGrid(const Vector2D<float>& grid)
{
    if (grid.empty() || grid.front().empty())
        return false;
    for (const auto& row : grid)
        if (row.size() < grid.front().size())
            return false;
    return true;
}

// A size or type code: any JSON number, a float truncated towards zero, a
// boolean as 0 or 1. A number beyond the 32-bit range, float or integer, is
// nlohmann's out_of_range (number overflow): it would wrap to another value.
std::int32_t integer(const json& v)
{
    const auto overflow = [&v] {
        return json::out_of_range::create(406, "number overflow converting " + v.dump() + " to int", &v);
    };
    if (v.is_number_float()) {
        const double d = v.get<double>();
        if (!(d > -2147483649.0 && d < 2147483648.0))
            throw overflow();
        return static_cast<std::int32_t>(d);
    }
    if (v.is_number_unsigned()) {
        if (v.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
            throw overflow();
    } else if (v.is_number_integer()) {
        const std::int64_t i = v.get<std::int64_t>();
        if (i < std::numeric_limits<std::int32_t>::min() || i > std::numeric_limits<std::int32_t>::max())
            throw overflow();
    }
    return v.get<std::int32_t>();
}

std::int32_t integer(const json& j, const char* key)
{
    return integer(j.at(key));
}

// A factor: any JSON number, a boolean as 0 or 1.
double factor(const json& j, const char* key)
{
    const json& v = j.at(key);
    return v.is_boolean() ? (v.get<bool>() ? 1.0 : 0.0) : finite<double>(v);
}

float valueOr(const json& j, const char* key, float fallback)
{
    const auto it = j.find(key);
    return it == j.end() ? fallback : finite<float>(*it);
}

std::unique_ptr<Operation> makeOperation(int type)
{
    switch (type) {
    case FeatherOperation::Type:
        return std::make_unique<FeatherOperation>();
    case GradientOperation::Type:
        return std::make_unique<GradientOperation>();
    case ScaleOperation::Type:
        return std::make_unique<ScaleOperation>();
    case AdjustOperation::Type:
        return std::make_unique<AdjustOperation>();
    case NullOperation::Type:
        return std::make_unique<NullOperation>();
    default:
        return nullptr;
    }
}

} // namespace

void FeatherOperation::process(Cal::Data& data) const
{
    data.feather(moduleWidth, moduleHeight, edgeWidth, edgeHeight, static_cast<float>(rFactor),
                 static_cast<float>(gFactor), static_cast<float>(bFactor));
}

bool FeatherOperation::load(const json& j)
{
    moduleWidth = integer(j, "moduleWidth");
    moduleHeight = integer(j, "moduleHeight");
    edgeWidth = integer(j, "edgeWidth");
    edgeHeight = integer(j, "edgeHeight");
    rFactor = factor(j, "rFactor");
    gFactor = factor(j, "gFactor");
    bFactor = factor(j, "bFactor");
    return true;
}

json FeatherOperation::save() const
{
    return {{"type", static_cast<unsigned>(Type)}, {"moduleWidth", moduleWidth}, {"moduleHeight", moduleHeight},
            {"edgeWidth", edgeWidth},  {"edgeHeight", edgeHeight},   {"rFactor", rFactor},
            {"gFactor", gFactor},      {"bFactor", bFactor}};
}

void GradientOperation::process(Cal::Data& data) const
{
    data.gradient(moduleWidth, moduleHeight, edgeWidth, edgeHeight, vertical, static_cast<float>(rFactorBegin),
                  static_cast<float>(rFactorEnd), static_cast<float>(gFactorBegin), static_cast<float>(gFactorEnd),
                  static_cast<float>(bFactorBegin), static_cast<float>(bFactorEnd));
}

bool GradientOperation::load(const json& j)
{
    moduleWidth = integer(j, "moduleWidth");
    moduleHeight = integer(j, "moduleHeight");
    edgeWidth = integer(j, "edgeWidth");
    edgeHeight = integer(j, "edgeHeight");
    vertical = j.at("vertical").get<bool>();
    rFactorBegin = factor(j, "rFactorBegin");
    rFactorEnd = factor(j, "rFactorEnd");
    gFactorBegin = factor(j, "gFactorBegin");
    gFactorEnd = factor(j, "gFactorEnd");
    bFactorBegin = factor(j, "bFactorBegin");
    bFactorEnd = factor(j, "bFactorEnd");
    return true;
}

json GradientOperation::save() const
{
    return {{"type", static_cast<unsigned>(Type)},
            {"moduleWidth", moduleWidth},
            {"moduleHeight", moduleHeight},
            {"edgeWidth", edgeWidth},
            {"edgeHeight", edgeHeight},
            {"vertical", vertical},
            {"rFactorBegin", rFactorBegin},
            {"rFactorEnd", rFactorEnd},
            {"gFactorBegin", gFactorBegin},
            {"gFactorEnd", gFactorEnd},
            {"bFactorBegin", bFactorBegin},
            {"bFactorEnd", bFactorEnd}};
}

void ScaleOperation::process(Cal::Data& data) const
{
    const bool oneGrid = points.size() == 1;
    if (!oneGrid && points.size() < 3) {
        std::cerr << "ScaleOperation: needs one grid or one per channel, has " << points.size() << std::endl;
        return;
    }
    for (std::size_t c = 0; c < 3; ++c) {
        if (!usableGrid(points[oneGrid ? 0 : c])) {
            std::cerr << "ScaleOperation: empty or ragged grid " << (oneGrid ? 0 : c) << std::endl;
            return;
        }
    }
    for (std::uint64_t c = 0; c < 3; ++c)
        data.scale(c, points[oneGrid ? 0 : c], spread);
}

bool ScaleOperation::load(const json& j)
{
    const auto idIt = j.find("id");
    id = idIt == j.end() ? std::string() : idIt->get<std::string>();
    points.clear();
    const auto tmpl = j.find("template");
    if (tmpl != j.end()) {
        points.push_back(readGrid(*tmpl));
    } else {
        const json& p = j.at("points");
        const std::size_t n = p.size();
        for (std::size_t i = 0; i < n; ++i)
            points.push_back(readGrid(p.at(i)));
    }
    spread = finite<float>(j.at("spread"));
    win_x = valueOr(j, "win_x", 0.0f);
    win_y = valueOr(j, "win_y", 0.0f);
    win_w = valueOr(j, "win_w", 1.0f);
    win_h = valueOr(j, "win_h", 1.0f);
    return true;
}

json ScaleOperation::save() const
{
    if (points.size() == 1)
        return {{"type", static_cast<unsigned>(Type)}, {"template", gridJson(points.front())}, {"spread", spread}};
    json grids = json::array();
    for (const auto& g : points)
        grids.push_back(gridJson(g));
    return {{"type", static_cast<unsigned>(Type)},
            {"id", id},
            {"points", std::move(grids)},
            {"spread", spread},
            {"win_x", win_x},
            {"win_y", win_y},
            {"win_w", win_w},
            {"win_h", win_h}};
}

void AdjustOperation::process(Cal::Data& data) const
{
    const auto r = static_cast<float>(rFactor);
    const auto g = static_cast<float>(gFactor);
    const auto b = static_cast<float>(bFactor);
    data.gradient(static_cast<std::int32_t>(data.moduleWidth), static_cast<std::int32_t>(data.moduleHeight), 0, 0,
                  false, r, r, g, g, b, b);
}

bool AdjustOperation::load(const json& j)
{
    rFactor = factor(j, "rFactor");
    gFactor = factor(j, "gFactor");
    bFactor = factor(j, "bFactor");
    return true;
}

json AdjustOperation::save() const
{
    return {{"type", static_cast<unsigned>(Type)}, {"rFactor", rFactor}, {"gFactor", gFactor}, {"bFactor", bFactor}};
}

bool OperationsDoc::load(const json& doc)
{
    const auto in = doc.find("inputFolder");
    inputFolder = in == doc.end() ? std::string() : in->get<std::string>();
    const auto out = doc.find("outputFolder");
    outputFolder = out == doc.end() ? std::string() : out->get<std::string>();
    operations.clear();

    const auto list = doc.find("operations");
    if (list == doc.end())
        return true;
    // An array gives its elements, an object its member values in key order.
    for (const json& entry : *list) {
        if (entry.is_null())
            continue;
        if (!entry.is_object())
            throw json::type_error::create(
                305, std::string("cannot use operator[] with a string argument with ") + entry.type_name(), &entry);
        auto op = makeOperation(integer(entry, "type"));
        if (!op)
            continue;
        op->load(entry);
        operations.push_back(std::move(op));
    }
    return true;
}

json OperationsDoc::save() const
{
    json ops = json::array();
    for (const auto& op : operations)
        ops.push_back(op->save());
    return {{"inputFolder", inputFolder}, {"outputFolder", outputFolder}, {"operations", std::move(ops)}};
}
