#!/usr/bin/env python3
"""The bundle's Info.plist as the build writes it: a property list holding what
docs/macos.md says, with this build's values.

    info_plist.py PLIST BUNDLE_ID VERSION MINIMUM_MACOS
"""
import plistlib
import sys

path, bundle_id, version, minimum = sys.argv[1:5]
try:
    with open(path, "rb") as f:
        info = plistlib.load(f, fmt=plistlib.FMT_XML)
except Exception as e:  # a broken file says why, in one line
    sys.exit(f"FAIL: {path} is not a property list: {e}")
if not isinstance(info, dict):
    sys.exit(f"FAIL: {path} holds a {type(info).__name__}, not a dictionary")

expected = {
    "CFBundleIdentifier": bundle_id,
    "CFBundleShortVersionString": version,
    "CFBundleVersion": version,
    "LSMinimumSystemVersion": minimum,
    # No Dock icon and no menu bar.
    "LSUIElement": True,
    # Contents/MacOS/QuorvaDesktop and Contents/Resources/QuorvaDesktop.icns.
    "CFBundleExecutable": "QuorvaDesktop",
    "CFBundleIconFile": "QuorvaDesktop.icns",
    "CFBundlePackageType": "APPL",
}
wrong = [f"{key}: {info.get(key, '(missing)')!r}, wanted {want!r}"
         for key, want in expected.items()
         if info.get(key) != want or type(info.get(key)) is not type(want)]
# A placeholder the build left unfilled, or filled with nothing.
wrong += [f"{key}: {value!r}" for key, value in info.items()
          if isinstance(value, str) and (not value or "@" in value)]
if wrong:
    sys.exit(f"FAIL: {path}:\n  " + "\n  ".join(wrong))
print(f"ok: {path}, {len(info)} keys")
