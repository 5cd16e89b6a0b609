#!/usr/bin/env bash
# Fetches Vazirmatn Regular from the npm package "vazirmatn" at a pinned
# version, checks the package's checksum, and keeps the font in .cache/fonts.
set -euo pipefail
cd "$(dirname "$0")/.."

VERSION=33.0.3
SHA256=9506e9e6a27e62b353c04a136c27de0cc3aa9e434658b45a6363f7c98c357090
OUT=.cache/fonts/Vazirmatn.ttf

[[ -s "$OUT" ]] && exit 0
if ! command -v npm >/dev/null; then
    echo "fetch-font: npm not found; building without Vazirmatn" >&2
    exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! (cd "$work" && npm pack --silent "vazirmatn@$VERSION" >/dev/null 2>&1); then
    echo "fetch-font: could not fetch vazirmatn@$VERSION; building without it" >&2
    exit 0
fi
tarball="$work/vazirmatn-$VERSION.tgz"
if ! echo "$SHA256  $tarball" | sha256sum --check --status; then
    echo "fetch-font: checksum mismatch for vazirmatn@$VERSION; not using it" >&2
    exit 0
fi
tar -xzf "$tarball" -C "$work" package/fonts/ttf/Vazirmatn-Regular.ttf
mkdir -p "$(dirname "$OUT")"
mv "$work/package/fonts/ttf/Vazirmatn-Regular.ttf" "$OUT"
echo "fetch-font: Vazirmatn $VERSION in $OUT"
