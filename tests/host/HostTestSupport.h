// What the host tests share: temporary folders, tiny runs written to disk, and
// running the real Corvantis program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace hosttest {

using testsupport::TempDir;

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
std::vector<std::string> filesIn(const std::string& folder);

// Little-endian bytes of values.
std::string floatBytes(const std::vector<float>& values);
std::string int16Bytes(const std::vector<int16_t>& values);

// Writes folder/name.fmr (DimX, DimY, DimZ, NrOfVolumes, DataType, STCFile
// name.stc, then extraLines) and folder/name.stc with stcBytes; returns the .fmr path.
std::string writeRun(const std::string& folder, const std::string& name, int dimX, int dimY, int dimZ, int volumes,
                     int dataType, const std::string& stcBytes, const std::string& extraLines = "");

// A float run of the given extents whose value at (volume v, voxel l) is 100 v + l.
std::string writeCountingRun(const std::string& folder, const std::string& name, int dimX, int dimY, int dimZ,
                             int volumes);

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs program with args (no shell); stdout and stderr captured whole.
Outcome runProgram(const std::string& program, const std::vector<std::string>& args);

// The built Corvantis program, the Quorvex library and the folder they are in.
std::string corvantisProgram();
std::string quorvexLibrary();

} // namespace hosttest
