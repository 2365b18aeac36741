#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail
# libnifti2-dev, libpng-dev, libstb-dev: NIfTI and pictures in the native host;
# libisal-dev: gzip (ISA-L) for .nii.gz runs and outputs;
# nlohmann-json3-dev: the JSON sidecars of confound tables, the records beside
# designs and the summaries of comparisons;
# libboost-math-dev: the p-values of comparisons, and the closed form the tests
# check event regressors against;
# python3-nibabel: the tests read its NIfTI files independently of niftilib;
# nlohmann-json3-dev also: the records and summaries of studies;
# python3-statsmodels, python3-scipy: the float64 reference the comparison tests check against;
# snakemake: the study's workflow; chromium: the study report's test in a headless browser.
# slurm-wlm, munge: the workflow's test on a private Slurm (slurmctld, slurmd, munged).
# clang, libclang-rt-14-dev: the fuzz preset's libFuzzer builds.
packages=(cmake g++ ninja-build libgtest-dev libgmock-dev libnifti2-dev libpng-dev libisal-dev libstb-dev
          libboost-math-dev nlohmann-json3-dev python3-statsmodels python3-scipy snakemake chromium
          python3-nibabel clang libclang-rt-14-dev slurm-wlm munge "$@")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}" >/dev/null
fi
