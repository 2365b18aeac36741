#!/usr/bin/env bash
# Formats the C++ sources with clang-format and the repository's .clang-format.
#   tools/format.sh           format every *.h / *.cpp of the source folders in place
#   tools/format.sh --check   change nothing; list the files that would change and exit 1 if any
# CLANG_FORMAT names the binary (default: clang-format; the style is written for version 14).
set -euo pipefail
cd "$(dirname "$0")/.."

folders=(linalg design plugin quorvex host tests bench fuzz)
clang_format=${CLANG_FORMAT:-clang-format}

check=false
case "${1:-}" in
    "") ;;
    --check) check=true ;;
    *)
        echo "usage: $0 [--check]" >&2
        exit 2
        ;;
esac

if ! command -v "$clang_format" >/dev/null; then
    echo "format.sh: $clang_format not found" >&2
    exit 2
fi

mapfile -d '' files < <(find "${folders[@]}" -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)

if ! $check; then
    "$clang_format" -i --style=file "${files[@]}"
    exit 0
fi

changed=0
for file in "${files[@]}"; do
    if ! "$clang_format" --style=file "$file" | cmp -s - "$file"; then
        echo "$file"
        changed=1
    fi
done
exit "$changed"
