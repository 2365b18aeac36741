#include "FakeHost.h"

#include "plugin/HostServiceTable.h"

namespace fakehost {

State& state() {
    static State s;
    return s;
}

namespace {

bool createMap() {
    State& s = state();
    s.calls.push_back("cvCreateMAPForCurrentFMR");
    for (auto& slice : s.slices) slice.assign(slice.size(), 0.0f);
    return true;
}

float** getMap(MapHeader* header) {
    State& s = state();
    s.calls.push_back("cvGetMAPOfCurrentFMR");
    *header = s.mapHeader;
    return s.mapNull ? nullptr : s.slicePointers.data();
}

bool setParameters(MapHeader* header) {
    State& s = state();
    s.calls.push_back("cvSetMAPParametersOfCurrentFMR");
    s.lastParameters = *header;
    s.allParameters.push_back(*header);
    return true;
}

bool saveMaps(const char* path) {
    State& s = state();
    s.calls.push_back(std::string("cvSaveMAPsOfCurrentFMR ") + path);
    s.savedValues.clear();
    for (const auto& slice : s.slices) s.savedValues.insert(s.savedValues.end(), slice.begin(), slice.end());
    s.allSavedValues.push_back(s.savedValues);
    return true;
}

int32_t intParameter(const char* name) {
    State& s = state();
    s.calls.push_back(std::string("cvGetIntParameter ") + name);
    const auto found = s.intParameters.find(name);
    return found == s.intParameters.end() ? 0 : found->second;
}

template <class F>
void install(cvts::HostService service, F function) {
    cvts::setHostServiceEntry(service, reinterpret_cast<cvts::HostEntry>(function));
}

} // namespace

void installMapServices(int32_t dimX, int32_t dimY, int32_t dimZ) {
    State& s = state();
    s = State{};
    s.mapHeader.DimX = dimX;
    s.mapHeader.DimY = dimY;
    s.mapHeader.DimZ = dimZ;
    s.mapHeader.MapType = 11;
    s.mapHeader.LowerThreshold = 111.0f;
    s.mapHeader.UpperThreshold = 222.0f;
    s.mapHeader.reserved24 = 24;
    s.mapHeader.field28 = 28;
    s.mapHeader.DF1 = 32;
    s.mapHeader.DF2 = 36;
    s.mapHeader.reserved40[0] = 40;
    s.slices.assign(static_cast<std::size_t>(dimZ), std::vector<float>(static_cast<std::size_t>(dimX * dimY), 0.0f));
    for (auto& slice : s.slices) s.slicePointers.push_back(slice.data());
    install(cvts::HostService::cvCreateMAPForCurrentFMR, &createMap);
    install(cvts::HostService::cvGetMAPOfCurrentFMR, &getMap);
    install(cvts::HostService::cvSetMAPParametersOfCurrentFMR, &setParameters);
    install(cvts::HostService::cvSaveMAPsOfCurrentFMR, &saveMaps);
}

void installIntParameterService() { install(cvts::HostService::cvGetIntParameter, &intParameter); }

void uninstall() {
    for (int i = 0; i < cvts::kHostServiceCount; ++i) {
        cvts::setHostServiceEntry(static_cast<cvts::HostService>(i), nullptr);
    }
}

} // namespace fakehost
