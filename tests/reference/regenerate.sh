#!/usr/bin/env bash
# Rewrites the manifests from the Corvantis in BIN (a build's bin folder).
# Only for an output that is meant to change; say why in the commit.
# usage: regenerate.sh BIN
set -euo pipefail
bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
for case in plain nifti; do
    cmake -DCORVANTIS="$bin/Corvantis" -DCASE=$case -DWORK="$work/$case" -DREGENERATE=ON -P "$here/CheckReference.cmake"
done
