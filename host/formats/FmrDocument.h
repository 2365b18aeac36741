// The current document of the host: an FMR run read from its .fmr text and its
// .stc time courses, changed in place by the plug-in and saved under new names.
#pragma once

#include <cstdint>
#include <string>

#include "host/formats/AtomicFile.h"
#include "host/formats/FmrText.h"
#include "host/formats/TimeCourses.h"
#include "plugin/HostKit.h"

namespace corvantis {

struct RunLayout {
    int32_t nrOfVolumes = 0;
    int32_t dimX = 0;
    int32_t dimY = 0;
    int32_t dimZ = 0;
    int32_t dataType = kDataTypeFloat32;
    int32_t voxels() const { return dimX * dimY * dimZ; }
};

// FMRHeader::FileName holds at most this many bytes before its NUL.
constexpr std::size_t kMaxHeaderPathLength = sizeof(FMRHeader::FileName) - 1;

class FmrDocument {
public:
    // Throws DocumentError with a message naming the file and what is wrong.
    static FmrDocument open(const std::string& path);
    // A document read from another format: its text (without STCFile, which a
    // save sets) and time courses, carrying path, which need not exist. Throws
    // DocumentError as open does.
    static FmrDocument fromParts(const std::string& path, FmrText text, TimeCourses timeCourses);
    // As fromParts, but the document carries name, a path relative to folder,
    // as it is given, and so do the saves as relative paths it is given: the
    // header's path then holds the short name whatever folder's length, and
    // saves of relative paths go into folder.
    static FmrDocument inFolder(const std::string& folder, const std::string& name, FmrText text,
                                TimeCourses timeCourses);

    // The path of the .fmr the document carries, as the header holds it:
    // absolute, or relative to its folder for a document made inFolder.
    const std::string& path() const { return path_; }
    // The absolute path of that .fmr on disk.
    std::string location() const;
    const RunLayout& layout() const { return layout_; }
    const FmrText& text() const { return text_; }
    TimeCourses& timeCourses() { return timeCourses_; }
    const TimeCourses& timeCourses() const { return timeCourses_; }

    // The record handed to the plug-in: path, extents, volumes, data type; zero elsewhere.
    FMRHeader header() const;

    // Save as: writes stcName + ".stc" in newPath's folder and newPath naming it,
    // then carries newPath. Throws SaveError; the document is unchanged then.
    void saveAs(const std::string& newPath, const std::string& stcName, Durability durability = Durability::Complete);

    // The absolute path on disk of a save as newPath, after the checks saveAs
    // makes of both names. Throws SaveError.
    std::string savePath(const std::string& newPath, const std::string& stcName) const;
    // Carries newPath and stcName as saveAs does, writing nothing: for a run
    // saved in another format. Throws SaveError as savePath.
    void takeSavedName(const std::string& newPath, const std::string& stcName);

private:
    FmrDocument(std::string path, FmrText text, RunLayout layout, TimeCourses timeCourses);
    // The path a save as newPath carries, checked to fit the header. Throws SaveError.
    std::string carriedPath(const std::string& newPath) const;
    std::string onDisk(const std::string& carried) const;

    std::string folder_; // empty: the document carries absolute paths
    std::string path_;
    FmrText text_;
    RunLayout layout_;
    TimeCourses timeCourses_;
};

} // namespace corvantis
