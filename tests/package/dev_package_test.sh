#!/usr/bin/env bash
# The development package as a client author gets it: cpack makes it beside
# the host's, it is unpacked into a root of its own, and the consumer is
# built against that root both ways, with CMake (find_package) and with a
# plain compiler command over pkg-config. Each build runs and needs no Qt,
# and the library they link defines no symbols but quorva's.
#   dev_package_test.sh BUILD SOURCE
set -euo pipefail
build=$1 source=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$tmp/out/libquorva-client-dev_${version}_$(dpkg --print-architecture).deb
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1 ||
    fail "cpack: $(cat "$tmp/cpack.log")"
[[ -f $deb ]] || fail "no $(basename "$deb") among: $(ls "$tmp/out")"
root=$tmp/root
dpkg-deb -x "$deb" "$root"
libdir=$root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
bash "$source/tests/package/own_symbols.sh" "$libdir/libquorva-client.a"
# The package's prefix, not the folder cpack staged it in.
grep -qx 'prefix=/usr' "$libdir/pkgconfig/quorva-client.pc" ||
    fail "quorva-client.pc: $(grep '^prefix=' "$libdir/pkgconfig/quorva-client.pc")"

# Prints the status of a home where no host ran, and needs no Qt.
check_consumer() {  # how it was built, the program
    local out
    out=$("$2" "$tmp/home") || fail "$1: the consumer failed: $out"
    [[ $out == "$tmp/home {\"running\":false} running=no" ]] || fail "$1: the consumer printed: $out"
    ! objdump -p "$2" | grep -E 'NEEDED +libQt' >&2 || fail "$1: the consumer needs Qt"
}

consumer=$source/tests/package/consumer
cmake -S "$consumer" -B "$tmp/cmake" -DCMAKE_PREFIX_PATH="$root/usr" -DCMAKE_BUILD_TYPE=Release \
    >"$tmp/cmake.log" 2>&1 || fail "configuring the consumer: $(cat "$tmp/cmake.log")"
# The package's CMake files, not some other install's.
grep -qx "QuorvaClient_DIR:PATH=$libdir/cmake/QuorvaClient" "$tmp/cmake/CMakeCache.txt" ||
    fail "find_package found $(grep '^QuorvaClient_DIR' "$tmp/cmake/CMakeCache.txt")"
cmake --build "$tmp/cmake" >"$tmp/cmake.log" 2>&1 || fail "building the consumer: $(cat "$tmp/cmake.log")"
check_consumer CMake "$tmp/cmake/consumer"

# As a Makefile would, with the root standing in for /.
flags=$(PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_LIBDIR=$libdir/pkgconfig pkg-config --cflags --libs quorva-client) ||
    fail "pkg-config does not know quorva-client"
[[ " $flags " == *" -L$libdir "* ]] || fail "pkg-config gives no -L$libdir: $flags"
# shellcheck disable=SC2086  # the flags are words
c++ -o "$tmp/consumer" "$consumer/main.cpp" $flags 2>"$tmp/c++.log" ||
    fail "c++ ... \$(pkg-config --cflags --libs quorva-client): $(cat "$tmp/c++.log")"
check_consumer pkg-config "$tmp/consumer"
echo "ok: the consumer built against $(basename "$deb") with CMake and with pkg-config"
