#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail
# libnifti2-dev, libpng-dev, libstb-dev: NIfTI and pictures in the native host;
# libdeflate-dev: the gzip compression of NIfTI copies;
# nlohmann-json3-dev: studies' JSON records; snakemake: the study workflow; chromium: the report's test;
# python3-nibabel: the tests read its NIfTI files independently of niftilib.
# clang, libclang-rt-14-dev: the fuzz preset's libFuzzer builds.
packages=(cmake g++ ninja-build libgtest-dev libgmock-dev libnifti2-dev libpng-dev libdeflate-dev libstb-dev
          nlohmann-json3-dev snakemake chromium python3-nibabel clang libclang-rt-14-dev "$@")
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
