#!/usr/bin/env bash
# Checks the downloads scripts/release.sh made, as a user would receive them:
#   - exactly the two archives (and their checksums), named with the project's version;
#   - each holds its plugin, the helper process beside it, INSTALL text and licence, nothing else;
#   - the unpacked plugins load in the raw VST2 host of the test trees (the DLL under Wine) and
#     present the instrument's name and the same version;
#   - each unpacked plugin runs a slot in its unpacked helper: the demonstration of the test tree
#     (the Windows one under Wine) plays it with a fixture that crashes in its helper, and the host
#     lives on, the other slot plays and the crashed slot comes back.
#   - the DLL is a PE32+ x86-64 image exporting only VSTPluginMain, with a version resource that
#     matches the project's version.
#
#   scripts/check-release.sh DIR LINUX_TEST_BUILD WINDOWS_TEST_BUILD
#
# The test trees provide the raw hosts (tools/pendulum-identity) and the project version their
# configure read from CMakeLists.txt (PROJECT_VERSION).
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
[ $# -eq 3 ] || { echo "usage: $0 DIR LINUX_TEST_BUILD WINDOWS_TEST_BUILD" >&2; exit 2; }
absolute() { (cd "$1" && pwd); }
dist="$(absolute "$1")" linux_build="$(absolute "$2")" windows_build="$(absolute "$3")"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$linux_build/CMakeCache.txt")"
[ -n "$version" ] || { echo "no project version in $linux_build/CMakeCache.txt" >&2; exit 1; }
linux_name="PluginPendulum-$version-linux-x86_64"
windows_name="PluginPendulum-$version-windows-x64"
sums="PluginPendulum-$version-SHA256SUMS.txt"

# 1. The files, named with this version and no other.
found="$(cd "$dist" && ls -A | LC_ALL=C sort | tr '\n' ' ')"
expected="$(printf '%s\n' "$linux_name.tar.gz" "$windows_name.zip" "$sums" | LC_ALL=C sort | tr '\n' ' ')"
[ "$found" = "$expected" ] && pass "artefacts $expected" || fail "files in $dist: $found; expected $expected"
(cd "$dist" && sha256sum --quiet -c "$sums") && pass "checksums" || fail "checksums do not match"
[ $failures -eq 0 ] || { echo "== release check: the artefacts are not there as named"; exit 1; }

# 2. Their contents.
listing() { LC_ALL=C sort | grep -v '/$' | tr '\n' ' '; }
got="$(tar -tzf "$dist/$linux_name.tar.gz" | listing)"
want="$linux_name/INSTALL.txt $linux_name/LICENSE $linux_name/PluginPendulum.so $linux_name/pendulum-slot-host "
[ "$got" = "$want" ] && pass "tar.gz contents" || fail "tar.gz holds: $got; expected: $want"
tar -tvzf "$dist/$linux_name.tar.gz" "$linux_name/pendulum-slot-host" | grep -q '^-rwxr-xr-x' &&
  pass "the helper in the tar.gz is executable" || fail "the helper in the tar.gz is not executable"
got="$(unzip -Z1 "$dist/$windows_name.zip" | listing)"
want="$windows_name/INSTALL.txt $windows_name/LICENSE.txt $windows_name/PluginPendulum.dll $windows_name/pendulum-slot-host.exe "
[ "$got" = "$want" ] && pass "zip contents" || fail "zip holds: $got; expected: $want"

work="$(mktemp -d "${TMPDIR:-/tmp}/pendulum-release-check.XXXXXX")"
trap 'rm -rf "$work"' EXIT
tar -xzf "$dist/$linux_name.tar.gz" -C "$work"
unzip -q "$dist/$windows_name.zip" -d "$work"
so="$work/$linux_name/PluginPendulum.so"
dll="$work/$windows_name/PluginPendulum.dll"

grep -q "PluginPendulum $version for Linux" "$work/$linux_name/INSTALL.txt" &&
  grep -q "PluginPendulum $version for Windows" "$work/$windows_name/INSTALL.txt" &&
  pass "INSTALL texts name version $version" || fail "an INSTALL text does not name version $version"
cmp -s "$repo/LICENSE" "$work/$linux_name/LICENSE" &&
  pass "licence" || fail "the licence in the tar.gz is not the repository's LICENSE"

# 3. The plugins, loaded as a DAW loads them. The plugin reports its version to hosts as
#    major * 100 + minor * 10 + patch.
IFS=. read -r major minor patch <<<"$version"
vendor_version=$((major * 100 + minor * 10 + patch))
check_host_output() {
  local what="$1" output="$2"
  if grep -qx 'effect name *PluginPendulum(Synth)' <<<"$output" &&
     grep -qx "vendor .* (version $vendor_version)" <<<"$output"; then
    pass "$what loads as PluginPendulum(Synth), version $vendor_version"
  else
    fail "$what in the raw host:"; echo "$output"
  fi
}

output="$("$linux_build/tools/pendulum-identity" "$so" 2>&1)" || fail "raw host exit status $? for $so"
check_host_output "PluginPendulum.so" "$output"

# An isolated slot from the unpacked tar.gz, made to crash: the plugin finds the helper beside it
# (no PENDULUM_SLOT_HOST), the fixture segfaults in it on the crash note, and the run must tell
# the segfault, the host that lived on and the slot back with its snapshot.
demo_out="$work/demo-linux"
if output="$(env -u PENDULUM_SLOT_HOST xvfb-run -a -s "-screen 0 1280x1024x24" \
      "$linux_build/tools/demo/pendulum-demo" --plugin "$so" --seconds 3 --out "$demo_out" --check 2>&1)" &&
   grep -q "(SegfaultSynth, in its own process) ended with segmentation fault" <<<"$output" &&
   grep -q "the host process lived on" <<<"$output" && grep -q "slot 0 back with its snapshot" <<<"$output"; then
  pass "PluginPendulum.so ran a slot in the unpacked helper, which segfaulted; $(grep '^summary:' <<<"$output" | cut -c1-160)..."
else
  fail "isolated slot from the unpacked tar.gz:"; echo "$output" | grep -v '^\['
fi

# The DLL under Wine, on a virtual display (JUCE opens its message window), in the Windows
# lane's prefix.
export WINEPREFIX="$windows_build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
output="$(xvfb-run -a -s "-screen 0 1280x1024x24" bash -c \
  'wine "$1" "$2"; rc=$?; wineserver -w; exit $rc' _ "$windows_build/tools/pendulum-identity.exe" "$dll" 2>&1 |
  tr -d '\r')" || fail "raw host under Wine exit status for $dll"
check_host_output "PluginPendulum.dll (Wine)" "$output"

# An isolated slot from the unpacked zip, made to crash under Wine, as above: the DLL finds
# pendulum-slot-host.exe beside it, the fixture's access violation ends that helper.
demo_out="$work/demo-windows"
if output="$(env -u PENDULUM_SLOT_HOST xvfb-run -a -s "-screen 0 1280x1024x24" bash -c \
      'wine "$1" --plugin "$(winepath -w "$2")" --seconds 3 --out "$(winepath -w "$3")" --check; rc=$?; wineserver -w; exit $rc' \
      _ "$windows_build/tools/demo/pendulum-demo.exe" "$dll" "$demo_out" 2>&1 | tr -d '\r')" &&
   grep -q "(SegfaultSynth, in its own process) ended with access violation" <<<"$output" &&
   grep -q "the host process lived on" <<<"$output" && grep -q "slot 0 back with its snapshot" <<<"$output"; then
  pass "PluginPendulum.dll ran a slot in the unpacked helper under Wine, which crashed; $(grep '^summary:' <<<"$output" | cut -c1-160)..."
else
  fail "isolated slot from the unpacked zip (Wine):"; echo "$output" | grep -v '^\['
fi

# 4. The DLL at the binary level, its version resource against the project version.
python3 "$repo/scripts/windows/check-dll.py" --objdump x86_64-w64-mingw32-objdump \
  --export VSTPluginMain \
  --version-string FileVersion="$version" --version-string ProductVersion="$version" \
  --file-version "$version.0" --product-version "$version.0" "$dll" >"$work/check-dll.log" 2>&1 &&
  pass "DLL image and version resource $version" || { fail "DLL check:"; cat "$work/check-dll.log"; }

if [ $failures -ne 0 ]; then
  echo "== release check: $failures failure(s)"
  exit 1
fi
echo "== release check: all passed (version $version)"
