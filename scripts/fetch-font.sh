#!/usr/bin/env bash
# Fetches Vazirmatn Regular and its licence (the SIL Open Font License, which
# must travel with the font) from the npm package "vazirmatn" at a pinned
# version, checks the package's checksum, and keeps both in .cache/fonts.
# A failed fetch is said in one line with its cause and remembered, so later
# runs build at once without the font (saying so, each time) instead of
# waiting on the network again; --retry tries once more.
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
    echo "fetch-font: building without Vazirmatn: an earlier fetch failed ($(head -n1 "$FAILED"))." \
        "To try again: ./scripts/fetch-font.sh --retry"
    exit 0
fi
# Remembered failures: network and checksum.
give_up() {
    mkdir -p "$DIR"
    echo "$1" >"$FAILED"
    echo "fetch-font: $1; building without Vazirmatn (the window uses the system font)." \
        "Later runs build without it too, and say so; ./scripts/fetch-font.sh --retry tries again." >&2
    exit 0
}
if ! command -v curl >/dev/null; then
    echo "fetch-font: curl not found; building without Vazirmatn" >&2
    exit 0
fi

# The package's tarball, straight from the registry (as npm itself fetches it):
# the checksum is the tarball's, so nothing else is needed, npm included.
url="https://registry.npmjs.org/vazirmatn/-/vazirmatn-$VERSION.tgz"
echo "fetch-font: fetching vazirmatn@$VERSION from the npm registry"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tarball="$work/vazirmatn-$VERSION.tgz"
# One quick retry at most, rather than waiting minutes on a closed network.
# curl's own messages take several lines; its one-line cause is enough here.
if ! cause=$(curl -fsL --retry 1 --connect-timeout 10 --max-time 60 -w '%{errormsg}' -o "$tarball" "$url"); then
    give_up "could not fetch $url: ${cause:-curl failed}"
fi
echo "$SHA256  $tarball" | sha256sum --check --status || give_up "checksum mismatch for vazirmatn@$VERSION"
tar -xzf "$tarball" -C "$work" package/fonts/ttf/Vazirmatn-Regular.ttf package/OFL.txt
mkdir -p "$DIR"
mv "$work/package/OFL.txt" "$LICENCE"
mv "$work/package/fonts/ttf/Vazirmatn-Regular.ttf" "$FONT"
echo "fetch-font: Vazirmatn $VERSION and its licence in $DIR"
