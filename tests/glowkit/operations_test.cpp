// Operations document: loaded, processed and saved; the library's exceptions
// for malformed entries.

#include "glowkit/operations.h"

#include "formats_testutil.h"

#include <sys/resource.h>

using namespace formatstest;
using nlohmann::json;

namespace {

// rows x cols pixels, every channel's Lv 1, taken as one module.
Cal::Data unitCube(std::size_t rows, std::size_t cols)
{
    Cal::Data d;
    for (int k = 0; k < 3; ++k)
        d.addYChannel(Vector2D<float>(rows, std::vector<float>(cols, 1.0f)));
    return d;
}

OperationsDoc loaded(const char* text)
{
    OperationsDoc doc;
    EXPECT_TRUE(doc.load(json::parse(text)));
    return doc;
}

TEST(OperationsDocTest, LoadsRunsAndSavesEveryKind)
{
    OperationsDoc doc = loaded(R"({
        "inputFolder": "in", "outputFolder": "out",
        "operations": [
            {"type": 2},
            {"type": 4, "rFactor": 0.5, "gFactor": 1, "bFactor": true},
            {"type": 0, "moduleWidth": 4.9, "moduleHeight": 100, "edgeWidth": 1, "edgeHeight": 0,
             "rFactor": 0.5, "gFactor": 1, "bFactor": 1},
            {"type": 1, "moduleWidth": 2, "moduleHeight": 2, "edgeWidth": 0, "edgeHeight": 0, "vertical": true,
             "rFactorBegin": 1, "rFactorEnd": 1, "gFactorBegin": 2, "gFactorEnd": 4, "bFactorBegin": 1, "bFactorEnd": 1},
            {"type": 3, "template": [[2.0]], "spread": 0.5, "points": "ignored"},
            {"type": 7},
            {"type": 6}
        ]})");
    EXPECT_EQ(doc.inputFolder, "in");
    EXPECT_EQ(doc.outputFolder, "out");
    ASSERT_EQ(doc.operations.size(), 5u);
    EXPECT_EQ(doc.operations[1]->moduleWidth, 4);

    Cal::Data d = unitCube(2, 4);
    for (const auto& op : doc.operations)
        op->process(d);
    // Adjust halves red; feather halves red once more on columns 0 and 3 (the module
    // border); gradient doubles green on even rows and triples it on odd ones; scale
    // doubles everything.
    const float red[] = {0.5f, 1.0f, 1.0f, 0.5f};
    for (std::size_t r = 0; r < 2; ++r)
        for (std::size_t c = 0; c < 4; ++c) {
            EXPECT_FLOAT_EQ(d.pixels[r][c][0].Lv, red[c]) << r << "," << c;
            EXPECT_FLOAT_EQ(d.pixels[r][c][1].Lv, r ? 6.0f : 4.0f);
            EXPECT_FLOAT_EQ(d.pixels[r][c][2].Lv, 2.0f);
        }

    // Saved and loaded again: the same document, less the null operation (skipped).
    const json saved = doc.save();
    EXPECT_EQ(saved["operations"][3], json::parse(R"({"type": 3, "template": [[2.0]], "spread": 0.5})"));
    EXPECT_TRUE(saved["operations"][4].is_null());
    EXPECT_EQ(saved["operations"][0], json::parse(R"({"type": 4, "rFactor": 0.5, "gFactor": 1.0, "bFactor": 1.0})"));
    OperationsDoc again;
    ASSERT_TRUE(again.load(json::parse(saved.dump())));
    json withoutNull = saved;
    withoutNull["operations"].erase(4);
    EXPECT_EQ(again.save(), withoutNull);

    EXPECT_EQ(OperationsDoc().save(), json::parse(R"({"inputFolder": "", "outputFolder": "", "operations": []})"));
}

TEST(OperationsDocTest, ScaleGridsInBothForms)
{
    OperationsDoc doc = loaded(R"({"operations": {
        "b": {"type": 3, "template": [[1, 2], [3, 4]], "spread": 0},
        "a": {"type": 3, "id": "m1", "points": [[[1]], [[2, false], [3, true]]], "spread": 0.25, "win_w": 0.5}}})");
    ASSERT_EQ(doc.operations.size(), 2u);
    const auto& pts = static_cast<const ScaleOperation&>(*doc.operations[0]);
    EXPECT_EQ(pts.points, (std::vector<Vector2D<float>>{{{1}}, {{2, 0}, {3, 1}}}));
    EXPECT_EQ(pts.win_h, 1.0f);
    EXPECT_EQ(doc.save()["operations"][0],
              json::parse(R"({"type": 3, "id": "m1", "points": [[[1.0]], [[2.0, 0.0], [3.0, 1.0]]], "spread": 0.25,
                              "win_x": 0.0, "win_y": 0.0, "win_w": 0.5, "win_h": 1.0})"));
    EXPECT_EQ(static_cast<const ScaleOperation&>(*doc.operations[1]).points.size(), 1u);

    // Two grids, or an empty one: nothing changes, one line says why.
    const Cal::Data before = unitCube(2, 2);
    for (const char* text : {R"({"type": 3, "points": [[[2]], [[2]]], "spread": 0})",
                             R"({"type": 3, "points": [[[2]], [], [[2]]], "spread": 0})",
                             R"({"type": 3, "template": [], "spread": 0})"}) {
        ScaleOperation op;
        op.load(json::parse(text));
        Cal::Data d = before;
        const auto out = captured([&] { op.process(d); });
        EXPECT_EQ(d, before) << text;
        EXPECT_EQ(std::count(out.err.begin(), out.err.end(), '\n'), 1) << text;
    }
}

TEST(OperationsDocTest, MalformedEntriesThrowTheLibrarysErrors)
{
    struct Row {
        const char* doc;
        const char* what; // start of the exception's text
        std::size_t kept; // operations appended before the failure
    } rows[] = {
        {R"({"operations": [{"type": 4, "rFactor": 1, "gFactor": 1, "bFactor": 1},
            {"type": 1, "moduleWidth": 1, "moduleHeight": 1, "edgeWidth": 0, "edgeHeight": 0, "vertical": 1,
             "rFactorBegin": 1, "rFactorEnd": 1, "gFactorBegin": 1, "gFactorEnd": 1, "bFactorBegin": 1, "bFactorEnd": 1}]})",
         "[json.exception.type_error.302] type must be boolean, but is number", 1},
        {R"({"operations": [{"type": 0, "moduleWidth": "wide"}]})",
         "[json.exception.type_error.302] type must be number, but is string", 0},
        {R"({"operations": ["text"]})",
         "[json.exception.type_error.305] cannot use operator[] with a string argument with string", 0},
        {R"({"operations": [{"type": 4, "rFactor": 1, "gFactor": 1}]})", "[json.exception.out_of_range.403]", 0},
        {R"({"operations": [{"type": 1e12}]})", "[json.exception.out_of_range.406]", 0},
        // Integers beyond 32 bits would wrap: 4294967300 to 4 (an Adjust), and so on.
        {R"({"operations": [{"type": 4294967300, "rFactor": 1, "gFactor": 1, "bFactor": 1}]})",
         "[json.exception.out_of_range.406]", 0},
        {R"({"operations": [{"type": -4294967292, "rFactor": 1, "gFactor": 1, "bFactor": 1}]})",
         "[json.exception.out_of_range.406]", 0},
        {R"({"operations": [{"type": 0, "moduleWidth": 4294967416, "moduleHeight": 1, "edgeWidth": 0,
            "edgeHeight": 0, "rFactor": 1, "gFactor": 1, "bFactor": 1}]})",
         "[json.exception.out_of_range.406]", 0},
        {R"({"operations": [{"type": 1, "moduleWidth": 1, "moduleHeight": 1, "edgeWidth": 2147483648,
            "edgeHeight": 0, "vertical": false, "rFactorBegin": 1, "rFactorEnd": 1, "gFactorBegin": 1,
            "gFactorEnd": 1, "bFactorBegin": 1, "bFactorEnd": 1}]})",
         "[json.exception.out_of_range.406]", 0},
        {R"({"operations": [{"rFactor": 1}]})", "[json.exception.out_of_range.403]", 0},
        {R"({"operations": [{"type": 3, "spread": 1}]})", "[json.exception.out_of_range.403]", 0},
        {R"({"operations": [{"type": 3, "points": [[[1, 2], [3]]], "spread": 1}]})",
         "[json.exception.out_of_range.401]", 0},
        {R"({"operations": [{"type": 3, "template": [["x"]], "spread": 1}]})",
         "[json.exception.type_error.302] type must be number, but is string", 0},
        // Beyond the float range: saved, it would come back as null.
        {R"({"operations": [{"type": 3, "template": [[1e41]], "spread": 1}]})", "[json.exception.out_of_range.406]", 0},
        {R"({"inputFolder": 3})", "[json.exception.type_error.302] type must be string, but is number", 0},
    };
    for (const auto& r : rows) {
        OperationsDoc doc;
        doc.operations.push_back(std::make_unique<NullOperation>());
        try {
            doc.load(json::parse(r.doc));
            ADD_FAILURE() << "no exception: " << r.doc;
        } catch (const json::exception& e) {
            EXPECT_EQ(std::string(e.what()).rfind(r.what, 0), 0u) << e.what();
        }
        if (std::string(r.doc).find("inputFolder") == std::string::npos) {
            EXPECT_EQ(doc.operations.size(), r.kept) << r.doc;
        }
    }
    // A wide row 0 over many rows that are not rows: refused before the grid is
    // allocated at the size of row 0 times the number of rows (64 MB here).
    std::string wide = R"({"type": 3, "spread": 0, "template": [[0)";
    for (int i = 1; i < 4000; ++i)
        wide += ",0";
    wide += "]";
    for (int i = 1; i < 4000; ++i)
        wide += ",1";
    wide += "]}";
    const json wideDoc = json::parse(wide);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    ScaleOperation op;
    EXPECT_THROW(op.load(wideDoc), json::type_error);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 16 * 1024) << "kB more at peak";

    // No "operations" at all is a document without operations.
    EXPECT_TRUE(loaded(R"({"inputFolder": "x"})").operations.empty());
}

} // namespace
