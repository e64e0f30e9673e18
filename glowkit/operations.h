#pragma once

// Image operations that change a calibration cube in place, and the JSON
// document that lists them with an input and an output folder.

#include "glowkit/caldata.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Operation {
public:
    virtual ~Operation() = default;
    virtual std::int32_t type() const = 0;
    virtual void process(Cal::Data& data) const = 0;
    // Takes the parameters from one JSON object. A missing required key is nlohmann's
    // out_of_range, a value of the wrong type its type_error.
    virtual bool load(const nlohmann::json& j) = 0;
    virtual nlohmann::json save() const = 0;

    std::int32_t moduleWidth = 120;
    std::int32_t moduleHeight = 180;
};

// Dims the module borders (type 0).
class FeatherOperation : public Operation {
public:
    static constexpr std::int32_t Type = 0;
    std::int32_t type() const override { return Type; }
    void process(Cal::Data& data) const override;
    bool load(const nlohmann::json& j) override;
    nlohmann::json save() const override;

    std::int32_t edgeWidth = 10;
    std::int32_t edgeHeight = 10;
    double rFactor = 1.0;
    double gFactor = 1.0;
    double bFactor = 1.0;
};

// Ramps the luminance across the inside of every module (type 1).
class GradientOperation : public Operation {
public:
    static constexpr std::int32_t Type = 1;
    std::int32_t type() const override { return Type; }
    void process(Cal::Data& data) const override;
    bool load(const nlohmann::json& j) override;
    nlohmann::json save() const override;

    std::int32_t edgeWidth = 10;
    std::int32_t edgeHeight = 10;
    bool vertical = false;
    double rFactorBegin = 1.0;
    double rFactorEnd = 1.0;
    double gFactorBegin = 1.0;
    double gFactorEnd = 1.0;
    double bFactorBegin = 1.0;
    double bFactorEnd = 1.0;
};

// Luminance factors interpolated from coarse grids (type 3): one grid for all
// channels, or one per channel. id and the window are carried, not used.
class ScaleOperation : public Operation {
public:
    static constexpr std::int32_t Type = 3;
    std::int32_t type() const override { return Type; }
    // Needs one grid or at least three, none of them empty or ragged; otherwise one
    // line on stderr and the data stay as they are.
    void process(Cal::Data& data) const override;
    bool load(const nlohmann::json& j) override;
    nlohmann::json save() const override;

    std::string id;
    std::vector<Vector2D<float>> points;
    float spread = 0.0f;
    float win_x = 0.0f;
    float win_y = 0.0f;
    float win_w = 0.0f;
    float win_h = 0.0f;
};

// Multiplies every pixel's luminance by one factor per channel (type 4).
class AdjustOperation : public Operation {
public:
    static constexpr std::int32_t Type = 4;
    std::int32_t type() const override { return Type; }
    void process(Cal::Data& data) const override;
    bool load(const nlohmann::json& j) override;
    nlohmann::json save() const override;

    double rFactor = 1.0;
    double gFactor = 1.0;
    double bFactor = 1.0;
};

// Does nothing (type 7); saved as JSON null.
class NullOperation : public Operation {
public:
    static constexpr std::int32_t Type = 7;
    std::int32_t type() const override { return Type; }
    void process(Cal::Data&) const override {}
    bool load(const nlohmann::json&) override { return false; }
    nlohmann::json save() const override { return nullptr; }
};

struct OperationsDoc {
    std::vector<std::unique_ptr<Operation>> operations;
    std::string inputFolder;
    std::string outputFolder;

    // Replaces the operations by those of the document. Entries of unknown type and
    // null entries (saved null operations) are skipped; nlohmann's exceptions pass out,
    // leaving the operations read before the failing entry in the list.
    bool load(const nlohmann::json& doc);
    nlohmann::json save() const;
};
