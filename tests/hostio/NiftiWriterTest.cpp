// NIfTI-1 files written byte by byte: the same bytes niftilib's own writer puts
// in a .nii, whole-file gzip that gzip itself accepts, and refusals that name
// the file.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>

#include "HostTestSupport.h"
#include "host/formats/HostErrors.h"
#include "host/formats/NiftiImage.h"
#include "host/formats/NiftiWriter.h"

namespace {

using corvantis::NiftiImagePtr;
using hosttest::TempDir;

// A 3 x 2 x 2 x 2 float run with a rotated, shifted space, a TR, an F-test
// intent and thresholds: every header field the host's copies set.
NiftiImagePtr sampleImage() {
    NiftiImagePtr image = corvantis::newImage(3, 2, 2, 2, DT_FLOAT32);
    float* values = static_cast<float*>(image->data);
    for (std::size_t i = 0; i < image->nvox; ++i) values[i] = static_cast<float>(i) * 1.5f - 7.25f;
    image->qform_code = NIFTI_XFORM_SCANNER_ANAT;
    image->sform_code = NIFTI_XFORM_ALIGNED_ANAT;
    image->quatern_b = 0.25f;
    image->quatern_c = -0.125f;
    image->quatern_d = 0.5f;
    image->qoffset_x = -90.0f;
    image->qoffset_y = 126.0f;
    image->qoffset_z = -72.0f;
    image->qfac = -1.0f;
    image->dx = image->pixdim[1] = 3.0f;
    image->dy = image->pixdim[2] = 3.0f;
    image->dz = image->pixdim[3] = 3.5f;
    image->dt = image->pixdim[4] = 2.0f;
    image->sto_xyz = nifti_quatern_to_mat44(0.25f, -0.125f, 0.5f, -90.0f, 126.0f, -72.0f, 3.0f, 3.0f, 3.5f, -1.0f);
    image->xyz_units = NIFTI_UNITS_MM;
    image->time_units = NIFTI_UNITS_SEC;
    image->intent_code = NIFTI_INTENT_FTEST;
    image->intent_p1 = 6.0f;
    image->intent_p2 = 139.0f;
    image->cal_min = 2.0f;
    image->cal_max = 25.5f;
    std::snprintf(image->descrip, sizeof image->descrip, "Corvantis map, type 4");
    return image;
}

std::string gunzip(const std::string& path) {
    gzFile file = gzopen(path.c_str(), "rb");
    if (file == nullptr) throw std::runtime_error("cannot open " + path);
    std::string bytes;
    char buffer[4096];
    int n = 0;
    while ((n = gzread(file, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<std::size_t>(n));
    const bool ended = n == 0;
    gzclose(file);
    if (!ended) throw std::runtime_error("cannot decompress " + path);
    return bytes;
}

TEST(NiftiWriter, WritesTheBytesNiftilibWritesAndGzipAcceptsTheCompressedFile) {
    TempDir dir;
    const NiftiImagePtr image = sampleImage();
    corvantis::writeNiftiImage(*image, dir.file("ours.nii"));
    corvantis::writeNiftiImage(*image, dir.file("ours.nii.gz"));
    // niftilib's own writer, on an image of its own (it renames the image it writes).
    const NiftiImagePtr theirs = sampleImage();
    ASSERT_EQ(nifti_set_filenames(theirs.get(), dir.file("theirs.nii").c_str(), 0, 1), 0);
    theirs->nifti_type = NIFTI_FTYPE_NIFTI1_1;
    nifti_image_write(theirs.get());

    const std::string expected = hosttest::readFile(dir.file("theirs.nii"));
    ASSERT_EQ(expected.size(), 352u + 3 * 2 * 2 * 2 * sizeof(float));
    EXPECT_EQ(hosttest::readFile(dir.file("ours.nii")), expected);
    EXPECT_EQ(gunzip(dir.file("ours.nii.gz")), expected);
    const hosttest::Outcome gzip = hosttest::runProgram("/bin/gzip", {"-t", dir.file("ours.nii.gz")});
    EXPECT_EQ(gzip.status, 0) << gzip.err;
    EXPECT_EQ(hosttest::filesIn(dir.path()), (std::vector<std::string>{"ours.nii", "ours.nii.gz", "theirs.nii"}));
}

TEST(NiftiWriter, RefusesOtherNamesAndImagesWithoutValuesNamingTheFile) {
    TempDir dir;
    const NiftiImagePtr image = sampleImage();
    try {
        corvantis::writeNiftiImage(*image, dir.file("map.img"));
        FAIL() << "wrote a .img";
    } catch (const corvantis::SaveError& error) {
        EXPECT_EQ(std::string(error.what()), "\"" + dir.file("map.img") + "\" does not end in .nii or .nii.gz");
    }
    nifti_image header = *image;
    header.data = nullptr;
    try {
        corvantis::writeNiftiImage(header, dir.file("empty.nii.gz"));
        FAIL() << "wrote an image without values";
    } catch (const corvantis::SaveError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "cannot write \"" + dir.file("empty.nii.gz") + "\": the NIfTI image has no values to write");
    }
    EXPECT_TRUE(hosttest::filesIn(dir.path()).empty());
}

} // namespace
