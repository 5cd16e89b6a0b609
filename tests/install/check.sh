#!/usr/bin/env bash
# The host as users get it, checked from the outside:
#   check.sh install BUILD SOURCE        `cmake --install` into a DESTDIR: the layout,
#                                        the host through its link on PATH, and on X
#                                        the window's class and icon against the entry
#   check.sh package BUILD SOURCE        `cpack -G DEB`, the host's package and the
#                                        development package: names, contents, fields,
#                                        stripped and hardened programs, a stripped
#                                        library, lintian, the unpacked host
#   check.sh desktop-entry BUILD SOURCE  desktop-file-validate, appstreamcli validate, and the
#                                        entry's English action
set -euo pipefail
mode=$1 build=$2 source=$3
tmp=$(mktemp -d)
pids=()
# Qt's runtime folder in ours, not a /tmp/runtime-* nobody removes.
export XDG_RUNTIME_DIR=$tmp/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
# SIGTERM first, latest first: a host stops its driver, Xvfb removes its lock.
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop "${pids[i]}"; done
    rm -rf "$tmp"
}
stop() {
    kill -TERM "$1" 2>/dev/null || return 0
    for _ in $(seq 50); do alive "$1" || break; sleep 0.1; done
    kill -KILL "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}
# Running: neither gone nor a zombie waiting for us.
alive() {
    local state
    read -r _ _ state _ 2>/dev/null <"/proc/$1/stat" || return 1
    [[ $state != Z ]]
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
# Polls the command until it succeeds, for up to $1 tenths of a second.
wait_for() {
    local tenths=$1 i
    shift
    for ((i = 0; i < tenths; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# Everything that runs, installed under /usr, folders with a trailing slash.
expected_paths() {
    local r=usr/lib/quorva-desktop/Resources
    printf '%s\n' usr/ usr/bin/ usr/bin/quorva-desktop usr/bin/quorvactl usr/lib/ \
        usr/lib/quorva-desktop/ usr/lib/quorva-desktop/bin/ usr/lib/quorva-desktop/bin/quorva-desktop \
        usr/lib/quorva-desktop/bin/quorvactl usr/lib/quorva-desktop/bin/quorva-driver-guard \
        usr/lib/quorva-desktop/lib/ \
        usr/lib/quorva-desktop/lib/quorva-qt.so usr/share/man/man1/quorvactl.1.gz $r/ $r/vov-driver \
        $r/quorva-icon-128.png $r/quorva-lockup-en-off-white-w360.png \
        $r/quorva-lockup-fa-off-white-w360.png usr/share/ usr/share/applications/ \
        usr/share/applications/com.quorva.desktop.desktop usr/share/doc/ \
        usr/share/doc/quorva-desktop/ usr/share/doc/quorva-desktop/changelog.gz \
        usr/share/doc/quorva-desktop/copyright usr/share/man/ usr/share/man/man1/ \
        usr/share/man/man1/quorva-desktop.1.gz usr/share/icons/ usr/share/icons/hicolor/ \
        usr/share/bash-completion/ usr/share/bash-completion/completions/ \
        usr/share/bash-completion/completions/quorvactl usr/share/zsh/ \
        usr/share/zsh/vendor-completions/ usr/share/zsh/vendor-completions/_quorvactl \
        usr/share/metainfo/ usr/share/metainfo/com.quorva.desktop.metainfo.xml \
        usr/share/lintian/ usr/share/lintian/overrides/ usr/share/lintian/overrides/quorva-desktop
    for size in 48x48 128x128 256x256 scalable; do
        local ext=png
        [[ $size == scalable ]] && ext=svg
        printf '%s\n' "usr/share/icons/hicolor/$size/" "usr/share/icons/hicolor/$size/apps/" \
            "usr/share/icons/hicolor/$size/apps/com.quorva.desktop.$ext"
    done
    # A build without the font has neither the font nor its licence.
    if [[ -e $build/QuorvaDesktop/Resources/Vazirmatn.ttf ]]; then
        printf '%s\n' $r/Vazirmatn.ttf $r/Vazirmatn-OFL.txt
    fi
}

# The client library's Development component, under /usr: what the
# development package holds.
expected_dev_paths() {
    local l=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH) doc=usr/share/doc/libquorva-client-dev
    local config
    config=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt")
    printf '%s\n' usr/ usr/include/ usr/include/quorva/ usr/include/quorva/client.h usr/lib/ $l/ \
        $l/libquorva-client.a $l/pkgconfig/ $l/pkgconfig/quorva-client.pc $l/cmake/ $l/cmake/QuorvaClient/ \
        $l/cmake/QuorvaClient/QuorvaClientConfig.cmake $l/cmake/QuorvaClient/QuorvaClientConfigVersion.cmake \
        $l/cmake/QuorvaClient/QuorvaClientTargets.cmake \
        "$l/cmake/QuorvaClient/QuorvaClientTargets-${config,,}.cmake" usr/share/ usr/share/doc/ $doc/ \
        $doc/changelog.gz $doc/copyright usr/share/quorva-desktop/ usr/share/quorva-desktop/status.schema.json
}

same_paths() {  # what, expected list's function, actual list file[, files only]
    "$2" | { [[ -n ${4:-} ]] && grep -v '/$' || cat; } | sort >"$tmp/expected"
    sort "$3" >"$tmp/actual"
    diff -u "$tmp/expected" "$tmp/actual" >&2 || fail "$1 differs from the expected files (+ extra, - missing)"
}

# The completions are where the shells look: bash-completion finds them on
# demand under XDG_DATA_DIRS (the installed tree's share/ standing in for
# /usr/share), and zsh's own $fpath holds their folder.
check_completions() {
    local share=$1/usr/share loaded
    loaded=$(XDG_DATA_DIRS=$share bash -c '. /usr/share/bash-completion/bash_completion
        __load_completion quorvactl && complete -p quorvactl')
    [[ $loaded == "complete -F _quorvactl quorvactl" ]] || fail "bash-completion loads: '$loaded'"
    zsh -fc 'print -l $fpath' | grep -qx /usr/share/zsh/vendor-completions ||
        fail "zsh does not look in /usr/share/zsh/vendor-completions"
    [[ $(head -n1 "$share/zsh/vendor-completions/_quorvactl") == "#compdef quorvactl" ]] ||
        fail "_quorvactl does not declare itself for quorvactl"
}

# Starts the command line given plus --home, a fresh home, and waits for its
# driver to serve; sets host, driver and home.
start_host() {
    home=$tmp/home$RANDOM
    "$@" --home "$home" >"$tmp/host-output" 2>&1 &
    host=$!
    pids+=("$host")
    local log=$home/desktop/desktop.log
    serving() { grep -Eq "^vov-driver \(stand-in\) [0-9]+: serving $home/desktop/driver.sock$" "$log" 2>/dev/null; }
    wait_for 100 serving || fail "no driver serving within 10 s: $(cat "$log" "$tmp/host-output" 2>&1)"
    driver=$(sed -nE 's/^vov-driver \(stand-in\) ([0-9]+): serving.*/\1/p' "$log")
    pids+=("$driver")
}

# SIGTERM ends the host with status 0 and its driver too; it printed nothing.
stop_host() {
    kill -TERM "$host"
    local status=0
    wait "$host" || status=$?
    ((status == 0)) || fail "the host ended with status $status on SIGTERM"
    wait_for 50 eval '! alive "$driver"' || fail "the driver outlived the host"
    [[ ! -s $tmp/host-output ]] || fail "the host printed: $(cat "$tmp/host-output")"
}

# Without a display (offscreen), through the command given: the driver runs
# from the Resources folder given.
run_host() {
    local resources=$1
    shift
    start_host env -u DISPLAY -u WAYLAND_DISPLAY "$@"
    [[ $(readlink "/proc/$driver/exe") == "$resources/vov-driver" ]] ||
        fail "the driver runs from $(readlink "/proc/$driver/exe"), not $resources"
    local guard
    guard=$(pgrep -P "$host" -f '/bin/quorva-driver-guard$') || fail "the driver has no guard"
    [[ $(readlink "/proc/$guard/exe") == "${resources%/Resources}/bin/quorva-driver-guard" ]] ||
        fail "the guard runs from $(readlink "/proc/$guard/exe")"
    stop_host
}

# On an X server: the window's class must be the entry's StartupWMClass, so
# that docks match them, and the window carries the 128 px icon.
check_window_on_x() {
    local root=$1 entry=$1/usr/share/applications/com.quorva.desktop.desktop
    # -noreset: as on a desktop, where other clients keep the server up, the
    # server must not reset when the host's display probe disconnects.
    Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>/dev/null &
    pids+=($!)
    wait_for 100 test -s "$tmp/display" || fail "Xvfb did not start"
    local display=:$(head -n1 "$tmp/display") window=""
    start_host env DISPLAY=$display "$root/usr/bin/quorva-desktop" --english --permissions
    find_window() {
        window=$(DISPLAY=$display xwininfo -root -tree | awk '/"Quorva permissions"/ { print $1 }')
        [[ -n $window ]]
    }
    wait_for 100 find_window || fail "no window on $display"
    local class wanted
    class=$(DISPLAY=$display xprop -id "$window" WM_CLASS | sed -nE 's/.*, "(.*)"$/\1/p')
    wanted=$(sed -n 's/^StartupWMClass=//p' "$entry")
    [[ -n $class && $class == "$wanted" ]] || fail "window class '$class', entry's StartupWMClass '$wanted'"
    [[ $(DISPLAY=$display xprop -id "$window" -len 8 _NET_WM_ICON) == *"Icon (128 x 128)"* ]] ||
        fail "the window has no icon"
    stop_host
}

case $mode in
install)
    root=$tmp/root
    # A strict umask must not leave anything unreadable for users.
    (umask 077 && DESTDIR=$root cmake --install "$build" --prefix /usr >"$tmp/install.log") ||
        fail "$(cat "$tmp/install.log")"
    # What runs is everything but the client library's Development component.
    DESTDIR=$tmp/dev cmake --install "$build" --prefix /usr --component Development >/dev/null ||
        fail "cmake --install --component Development"
    (cd "$tmp/dev" && find . ! -type d -printf '%P\n') | sort >"$tmp/development"
    same_paths "cmake --install --component Development" expected_dev_paths "$tmp/development" files-only
    (cd "$root" && find . ! -type d -printf '%P\n') | sort | comm -23 - "$tmp/development" >"$tmp/paths"
    same_paths "cmake --install" expected_paths "$tmp/paths" files-only
    (cd "$root" && find usr \( -type d -o -perm -u=x \) ! -type l ! -perm 755 -printf '%m %p\n'
        find usr -type f ! -perm -u=x ! -perm 644 -printf '%m %p\n') >"$tmp/modes"
    [[ ! -s $tmp/modes ]] || fail "modes other than 755 and 644: $(cat "$tmp/modes")"
    # The entry's program is the link on PATH, and its icon is installed.
    entry=$root/usr/share/applications/com.quorva.desktop.desktop
    # Each of them: the entry's and its actions'.
    for program in $(sed -nE 's/^Exec=([^ ]+).*/\1/p' "$entry"); do
        [[ -L $root/usr/bin/$program ]] || fail "Exec names '$program', not a link in bin/"
    done
    icon=$(sed -n 's/^Icon=//p' "$entry")
    [[ -f $root/usr/share/icons/hicolor/48x48/apps/$icon.png ]] || fail "Icon names '$icon', not installed"
    run_host "$root/usr/lib/quorva-desktop/Resources" env PATH="$root/usr/bin:$PATH" "$program"
    # quorvactl, run through its link, starts the host installed beside it.
    env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/quorvactl" start --home "$tmp/ctl" >"$tmp/ctl.out" 2>&1 ||
        fail "quorvactl start: $(cat "$tmp/ctl.out")"
    host=$(sed -nE 's/.*"host_pid":([0-9]+).*/\1/p' "$tmp/ctl/desktop/status.json")
    pids+=("$host")
    [[ $(readlink "/proc/$host/exe") == "$root/usr/lib/quorva-desktop/bin/quorva-desktop" ]] ||
        fail "quorvactl started $(readlink "/proc/$host/exe")"
    kill -TERM "$host"
    wait_for 50 eval '! alive "$host"' || fail "the host quorvactl started did not end on SIGTERM"
    check_completions "$root"
    check_window_on_x "$root"
    ;;
package)
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
    deb=$tmp/out/quorva-desktop_${version}_$(dpkg --print-architecture).deb
    dev=$tmp/out/libquorva-client-dev_${version}_$(dpkg --print-architecture).deb
    (umask 077 && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1) ||
        fail "cpack: $(cat "$tmp/cpack.log")"
    for package in "$deb" "$dev"; do
        [[ -f $package ]] || fail "no $(basename "$package") among: $(ls "$tmp/out")"
    done
    dpkg-deb -c "$deb" >"$tmp/listing"
    awk '{ sub(/^\.\//, "", $6); print $6 }' "$tmp/listing" >"$tmp/paths"
    same_paths "dpkg-deb -c (host)" expected_paths "$tmp/paths"
    grep -q ' \./usr/bin/quorva-desktop -> \.\./lib/quorva-desktop/bin/quorva-desktop$' "$tmp/listing" ||
        fail "usr/bin/quorva-desktop is not the relative link to the app folder"
    grep -Ev '^(drwxr-xr-x|-rw-r--r--|lrwxrwxrwx) root/root' "$tmp/listing" |
        grep -Ev '^-rwxr-xr-x root/root .*/(bin/quorva-(desktop|driver-guard)|bin/quorvactl|Resources/vov-driver)$' \
            >"$tmp/modes" || true
    [[ ! -s $tmp/modes ]] || fail "unexpected modes or owners: $(cat "$tmp/modes")"
    # Libraries come from dpkg-shlibdeps; the platform plugins are named by hand.
    depends=$(dpkg-deb -f "$deb" Depends)
    for dep in qt6-qpa-plugins libqt6widgets6 libc6; do
        [[ ", $depends," == *", $dep"[\ ,]* ]] || fail "Depends lacks $dep: $depends"
    done
    [[ $(dpkg-deb -f "$deb" Section) == x11 ]] || fail "the host's section: $(dpkg-deb -f "$deb" Section)"
    # The development package: for building clients, in libdevel, wanting the
    # host of its own version and needing nothing to run; its library stripped
    # of debugging information, as Debian strips one.
    dpkg-deb -c "$dev" >"$tmp/dev-listing"
    awk '{ sub(/^\.\//, "", $6); print $6 }' "$tmp/dev-listing" >"$tmp/dev-paths"
    same_paths "dpkg-deb -c (development)" expected_dev_paths "$tmp/dev-paths"
    grep -Ev '^(drwxr-xr-x|-rw-r--r--) root/root' "$tmp/dev-listing" >"$tmp/modes" || true
    [[ ! -s $tmp/modes ]] || fail "unexpected modes or owners: $(cat "$tmp/modes")"
    [[ $(dpkg-deb -f "$dev" Section) == libdevel ]] || fail "the development package's section: $(dpkg-deb -f "$dev" Section)"
    [[ $(dpkg-deb -f "$dev" Recommends) == "quorva-desktop (= $version)" ]] ||
        fail "the development package recommends: '$(dpkg-deb -f "$dev" Recommends)'"
    [[ -z $(dpkg-deb -f "$dev" Depends) ]] || fail "the development package depends on: $(dpkg-deb -f "$dev" Depends)"
    dpkg-deb -x "$dev" "$tmp/dev-root"
    archive=$(find "$tmp/dev-root" -name libquorva-client.a)
    ! readelf -S "$archive" | grep -E ' \.debug_info ' >/dev/null || fail "libquorva-client.a is not stripped"
    dpkg-deb -x "$deb" "$tmp/root"
    programs=(usr/lib/quorva-desktop/bin/quorva-desktop usr/lib/quorva-desktop/bin/quorvactl
        usr/lib/quorva-desktop/bin/quorva-driver-guard
        usr/lib/quorva-desktop/lib/quorva-qt.so usr/lib/quorva-desktop/Resources/vov-driver)
    for program in "${programs[@]}"; do
        # grep reads everything: with -q, readelf could die of SIGPIPE and so fail the pipe.
        ! readelf -S "$tmp/root/$program" | grep -E ' \.(symtab|debug_info) ' >/dev/null || fail "$program is not stripped"
    done
    # Built as Debian builds its own: lintian's hardening tags are informational,
    # so they are looked for here; it has none for the stack protector.
    # Its own temporary files go with ours (it leaves some in $TMPDIR).
    mkdir -p "$tmp/lintian-tmp"
    TMPDIR=$tmp/lintian-tmp lintian --fail-on error --display-info "$deb" "$dev" >"$tmp/lintian" 2>&1 ||
        fail "lintian: $(cat "$tmp/lintian")"
    ! grep -E '^[EWI]: .* hardening-' "$tmp/lintian" >&2 || fail "lintian finds the programs not hardened"
    for program in "${programs[@]}"; do
        readelf --dyn-syms -W "$tmp/root/$program" | grep ' __stack_chk_fail' >/dev/null ||
            fail "$program is built without the stack protector"
    done
    grep -E '^[EW]: ' "$tmp/lintian" || true
    run_host "$tmp/root/usr/lib/quorva-desktop/Resources" "$tmp/root/usr/bin/quorva-desktop"
    ;;
desktop-entry)
    entry=$source/packaging/com.quorva.desktop.desktop
    desktop-file-validate "$entry" || fail "desktop-file-validate"
    appstreamcli validate --no-net "$build/packaging/com.quorva.desktop.metainfo.xml" >"$tmp/as" 2>&1 ||
        fail "appstreamcli validate: $(cat "$tmp/as")"
    # The menu offers the English window beside the Persian one.
    grep -qx 'Actions=english;' "$entry" && grep -qx 'Exec=quorva-desktop --permissions --english' "$entry" ||
        fail "no desktop action for the English window"
    ;;
*) fail "unknown check: $mode" ;;
esac
echo "ok: $mode"
