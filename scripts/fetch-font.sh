#!/usr/bin/env bash
# Fetches Vazirmatn Regular and its licence (the SIL Open Font License, which
# must travel with the font) from the npm package "vazirmatn" at a pinned
# version, checks the package's checksum, and keeps both in .cache/fonts.
# A failed fetch is remembered, so later runs build at once without the font
# instead of waiting on the network again; --retry tries once more.
set -euo pipefail
cd "$(dirname "$0")/.."

VERSION=33.0.3
SHA256=9506e9e6a27e62b353c04a136c27de0cc3aa9e434658b45a6363f7c98c357090
DIR=.cache/fonts
FONT=$DIR/Vazirmatn.ttf
LICENCE=$DIR/Vazirmatn-OFL.txt
FAILED=$DIR/fetch-failed

[[ ${1:-} == --retry ]] && rm -f "$FAILED"
[[ -s $FONT && -s $LICENCE ]] && exit 0
if [[ -e $FAILED ]]; then
    echo "fetch-font: an earlier fetch failed ($(head -n1 "$FAILED")); building without Vazirmatn." \
        "To try again: ./scripts/fetch-font.sh --retry"
    exit 0
fi
# Remembered failures: network and checksum. A missing npm is not one, since
# it costs no time and may be installed later.
give_up() {
    mkdir -p "$DIR"
    echo "$1" >"$FAILED"
    echo "fetch-font: $1; building without Vazirmatn (the window uses the system font)." \
        "Later runs will not try again; ./scripts/fetch-font.sh --retry does." >&2
    exit 0
}
if ! command -v npm >/dev/null; then
    echo "fetch-font: npm not found; building without Vazirmatn" >&2
    exit 0
fi

echo "fetch-font: fetching vazirmatn@$VERSION from the npm registry"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One quick retry at most: npm's defaults can wait over a minute to fail.
if ! (cd "$work" && timeout 60 npm pack --silent --fetch-retries=1 --fetch-retry-mintimeout=2000 \
    --fetch-retry-maxtimeout=5000 --fetch-timeout=20000 "vazirmatn@$VERSION" >/dev/null 2>&1); then
    give_up "could not fetch vazirmatn@$VERSION"
fi
tarball="$work/vazirmatn-$VERSION.tgz"
echo "$SHA256  $tarball" | sha256sum --check --status || give_up "checksum mismatch for vazirmatn@$VERSION"
tar -xzf "$tarball" -C "$work" package/fonts/ttf/Vazirmatn-Regular.ttf package/OFL.txt
mkdir -p "$DIR"
mv "$work/package/OFL.txt" "$LICENCE"
mv "$work/package/fonts/ttf/Vazirmatn-Regular.ttf" "$FONT"
echo "fetch-font: Vazirmatn $VERSION and its licence in $DIR"
