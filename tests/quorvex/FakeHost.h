// A host assembled inside the test process: its services are installed straight
// into the host service table and record every call.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "plugin/HostKit.h"

namespace fakehost {

struct State {
    std::vector<std::string> calls; // one entry per service call, in order
    MapHeader mapHeader{};          // what cvGetMAPOfCurrentFMR hands out
    std::vector<std::vector<float>> slices;
    std::vector<float*> slicePointers;
    bool mapNull = false;
    MapHeader lastParameters{};                     // what cvSetMAPParametersOfCurrentFMR received
    std::vector<float> savedValues;                 // slice contents at cvSaveMAPsOfCurrentFMR
    std::vector<MapHeader> allParameters;           // every header cvSetMAPParametersOfCurrentFMR received
    std::vector<std::vector<float>> allSavedValues; // savedValues of every cvSaveMAPsOfCurrentFMR
    std::map<std::string, int32_t> intParameters;   // cvGetIntParameter's answers; 0 for others
};

State& state();

// Installs the map services; the map has the given extents and header defaults
// that differ from everything the plug-in writes.
void installMapServices(int32_t dimX, int32_t dimY, int32_t dimZ);

// Adds cvGetIntParameter, which answers from intParameters and records
// "cvGetIntParameter NAME".
void installIntParameterService();

// Empties the table again.
void uninstall();

} // namespace fakehost
