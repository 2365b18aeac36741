#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail
# libnifti2-dev, libpng-dev, libstb-dev: NIfTI and pictures in the native host;
# libisal-dev: gzip (ISA-L) for .nii.gz runs and outputs;
# python3-nibabel: the tests read its NIfTI files independently of niftilib.
# clang, libclang-rt-14-dev: the fuzz preset's libFuzzer builds.
packages=(cmake g++ ninja-build libgtest-dev libgmock-dev libnifti2-dev libpng-dev libisal-dev libstb-dev
          python3-nibabel clang libclang-rt-14-dev "$@")
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
