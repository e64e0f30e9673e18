// libFuzzer target: arbitrary bytes as an operations document.
//
// Bytes that parse as JSON are loaded (nlohmann's exceptions are the loader's
// answer to malformed entries); the loaded operations run on a small cube, and
// the saved document must load again with the same operations, null ones aside.

#include "glowkit/operations.h"

#include <cstdint>
#include <cstdlib>

namespace {

Cal::Data cube()
{
    Cal::Data d;
    for (int k = 0; k < 3; ++k) {
        Vector2D<Cal::EmitterReading> p(6, std::vector<Cal::EmitterReading>(8, Cal::EmitterReading{0.3f, 0.6f, 1.0f, 0}));
        d.addChannel(p);
    }
    d.moduleWidth = 4;
    d.moduleHeight = 3;
    return d;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const nlohmann::json j = nlohmann::json::parse(data, data + size, nullptr, false);
    if (j.is_discarded())
        return 0;
    OperationsDoc doc;
    try {
        doc.load(j);
    } catch (const nlohmann::json::exception&) {
        return 0;
    }
    Cal::Data d = cube();
    for (const auto& op : doc.operations)
        op->process(d);

    std::size_t kept = 0;
    for (const auto& op : doc.operations)
        kept += op->type() != NullOperation::Type;
    OperationsDoc again;
    try {
        again.load(nlohmann::json::parse(doc.save().dump()));
    } catch (const nlohmann::json::exception&) {
        std::abort(); // a saved document must load again
    }
    std::size_t keptAgain = 0;
    for (const auto& op : again.operations)
        keptAgain += op->type() != NullOperation::Type;
    if (keptAgain != kept)
        std::abort();
    return 0;
}
