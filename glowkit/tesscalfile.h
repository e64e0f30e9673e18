#pragma once

// Public front end of the TessCal format: correction meshes and calibration
// cubes (Cal::Data) to and from TessCal streams and ".klv" files. The handler has no state; every member is const and may
// be called on a default-constructed handler from any thread, one stream per
// call. Failures never throw: they print a line on standard error and give an
// empty result (a failed write also sets the stream's failbit).

#include "glowkit/caldata.h"

#include <array>
#include <istream>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace TessCalFile {

// A correction mesh: one plane of gains per colour channel (1 to 5 planes),
// each a list of rows of cells. Every plane has the rows of plane 0 and every
// row the cells of row 0 of plane 0. Gains are stored as unsigned 1.15 fixed
// point (1.0 = 0x8000): values outside [0, 65535/32768] are clamped to that
// range, and a mesh holding a NaN gain is refused.
struct Mesh {
    std::string name;
    std::vector<std::vector<std::vector<float>>> planes;
    std::array<float, 4> geometry{}; // placement, carried unchanged
    float value = 0;                 // carried unchanged
};

class Handler {
public:
    // Writes one TessCal stream holding the mesh: header, the set-7 marker,
    // the mesh record and the CRC. On failure prints "TessCal Write error"
    // and sets the stream's failbit; nothing reaches the stream when the mesh
    // is refused.
    void writeStream(const Mesh& mesh, std::ostream& os) const;

    // Reads the mesh of a TessCal stream, with the planes present in it; an
    // empty mesh (and a line on standard error) when the stream cannot be
    // read or holds no mesh. Planes that the stream marks absent may only
    // follow the present ones (a mesh of two planes is written with three
    // plane places); a present plane after an absent one, or a mesh more
    // than 4096 cells wide or high, is refused the same way. Reading holds about
    // three times the stream's size in memory, plus at most 4096 row lists
    // per plane.
    Mesh readStreamMesh(std::istream& is) const;

    // Writes the cube as one module: per-pixel XYZ of its first three
    // channels (a pixel lacking a channel counts as black) and the process
    // information. Grids wider or higher than 65535 pixels, or ragged ones,
    // are refused; failures print "TessCal Write error" and set failbit.
    void writeStream(const Cal::Data& data, std::ostream& os) const;
    // Reads a cube written as above; an empty cube (and a line on standard
    // error) when the stream cannot be read or does not cover its grid.
    Cal::Data readStream(std::istream& is) const;

    void writeFile(const Cal::Data& data, const std::string& path) const;
    Cal::Data readFile(const std::string& path) const;
    // One file per identifier: folder + "/" + identifier + ".klv".
    void writeFiles(const std::map<std::string, Cal::Data>& cubes, const std::string& folder) const;
    // Every regular file of the folder whose name ends in ".klv", under its
    // name without that suffix; other entries are ignored.
    std::map<std::string, Cal::Data> readFiles(const std::string& folder) const;

    // Parses with a trace on standard output; the reader's status.
    int validateStream(std::istream& is) const;
    void validateFile(const std::string& path) const;
};

} // namespace TessCalFile
