#!/usr/bin/env bash
# Builds the two downloads of a release:
#   PluginPendulum-<version>-linux-x86_64.tar.gz   PluginPendulum.so, pendulum-slot-host, INSTALL.txt, LICENSE
#   PluginPendulum-<version>-windows-x64.zip       PluginPendulum.dll, pendulum-slot-host.exe, INSTALL.txt,
#                                                  LICENSE.txt
#   PluginPendulum-<version>-SHA256SUMS.txt        their checksums
# The helper process (pendulum-slot-host) runs slots in processes of their own; the plugin looks
# for it in its own folder, so it ships beside the plugin.
# <version> is the project's, from project(PluginPendulum VERSION ...) in CMakeLists.txt; the
# DLL's version resource and the plugin's own version are configured from the same value.
#
#   scripts/release.sh [--no-deps] [--out DIR]      (default DIR: <repo>/dist)
#
# The plugin is built in Release trees of its own, without tests:
#   PENDULUM_RELEASE_LINUX_BUILD    Linux tree (default: <repo>/build-rel-linux)
#   PENDULUM_RELEASE_WINDOWS_BUILD  MinGW-w64 tree (default: <repo>/build-rel-win)
# A tree that is already configured is used as it is (it must be a Release build), so e.g. the
# Windows lane's build-win can be packaged without building the plugin a second time.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

out="$repo/dist"
install_deps=1
while [ $# -gt 0 ]; do
  case "$1" in
    --no-deps) install_deps=0 ;;
    --out) out="$2"; shift ;;
    *) echo "usage: $0 [--no-deps] [--out DIR]" >&2; exit 2 ;;
  esac
  shift
done
linux_build="${PENDULUM_RELEASE_LINUX_BUILD:-$repo/build-rel-linux}"
windows_build="${PENDULUM_RELEASE_WINDOWS_BUILD:-$repo/build-rel-win}"
juce_dir="${JUCE_DIR:-/usr/lib/x86_64-linux-gnu/cmake/JUCE-7.0.5}"

start=$SECONDS
phase() { echo "== [release] $* ($((SECONDS - start)) s)"; }

if [ $install_deps = 1 ]; then
  phase "dependencies"
  "$repo/scripts/install-deps.sh"
  bash "$repo/scripts/windows/install-deps.sh" >/dev/null
fi

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

cache_value() { sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"; }

# Configures the tree unless it already is, then builds only the plugin target.
build_plugin() {
  local tree="$1" name="$2"; shift 2
  mkdir -p "$tree"
  if [ ! -f "$tree/CMakeCache.txt" ]; then
    phase "configure $name ($tree)"
    cmake -S "$repo" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPENDULUM_BUILD_TESTS=OFF \
      "${launcher[@]}" "$@" >"$tree/release-configure.log" 2>&1 ||
      { cat "$tree/release-configure.log"; exit 1; }
  fi
  case "$(cache_value "$tree" CMAKE_BUILD_TYPE)" in
    Release|RelWithDebInfo|MinSizeRel) ;;
    *) echo "$tree is a $(cache_value "$tree" CMAKE_BUILD_TYPE) build, not a release build" >&2; exit 1 ;;
  esac
  phase "build $name"
  if ! cmake --build "$tree" --target PluginPendulum_VST -j"$(nproc)" >"$tree/release-build.log" 2>&1; then
    grep -E -A8 'error|FAILED' "$tree/release-build.log" | head -n 100
    echo "== [release] $name build failed; full log: $tree/release-build.log" >&2
    exit 1
  fi
}

build_plugin "$linux_build" linux
build_plugin "$windows_build" windows \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchains/mingw-w64.cmake" -DJUCE_DIR="$juce_dir"

# The version the trees were configured with (a build reconfigures when CMakeLists.txt changed).
version="$(cache_value "$linux_build" CMAKE_PROJECT_VERSION)"
windows_version="$(cache_value "$windows_build" CMAKE_PROJECT_VERSION)"
if [ -z "$version" ] || [ "$version" != "$windows_version" ]; then
  echo "project version differs between the trees: '$version' (linux), '$windows_version' (windows)" >&2
  exit 1
fi

plugin_file() { echo "$1/PluginPendulum_artefacts/$(cache_value "$1" CMAKE_BUILD_TYPE)/VST/$2"; }
so="$(plugin_file "$linux_build" PluginPendulum.so)"
dll="$(plugin_file "$windows_build" PluginPendulum.dll)"
# The helper is built beside the plugin (building the plugin target builds it).
so_helper="$(plugin_file "$linux_build" pendulum-slot-host)"
dll_helper="$(plugin_file "$windows_build" pendulum-slot-host.exe)"
for file in "$so" "$so_helper" "$dll" "$dll_helper"; do
  [ -f "$file" ] || { echo "$file was not built" >&2; exit 1; }
done

phase "package $version"
linux_name="PluginPendulum-$version-linux-x86_64"
windows_name="PluginPendulum-$version-windows-x64"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
rm -rf "$out/.stage"
rm -f "$out"/PluginPendulum-*-linux-x86_64.tar.gz "$out"/PluginPendulum-*-windows-x64.zip \
      "$out"/PluginPendulum-*-SHA256SUMS.txt
stage="$out/.stage"
mkdir -p "$stage/$linux_name" "$stage/$windows_name"

# Symbols are of no use to a DAW; the exports, and the DLL's resources, stay.
strip --strip-unneeded -o "$stage/$linux_name/PluginPendulum.so" "$so"
strip --strip-unneeded -o "$stage/$linux_name/pendulum-slot-host" "$so_helper"
chmod 755 "$stage/$linux_name/pendulum-slot-host"
x86_64-w64-mingw32-strip --strip-unneeded -o "$stage/$windows_name/PluginPendulum.dll" "$dll"
x86_64-w64-mingw32-strip --strip-unneeded -o "$stage/$windows_name/pendulum-slot-host.exe" "$dll_helper"
sed "s/@VERSION@/$version/g" "$repo/packaging/INSTALL-linux.txt" >"$stage/$linux_name/INSTALL.txt"
cp "$repo/LICENSE" "$stage/$linux_name/LICENSE"
# Windows editors expect CRLF line ends.
sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "$repo/packaging/INSTALL-windows.txt" \
  >"$stage/$windows_name/INSTALL.txt"
sed -e 's/$/\r/' "$repo/LICENSE" >"$stage/$windows_name/LICENSE.txt"

# Same inputs, same archives: fixed owners, order and timestamps (those of the last commit).
epoch="$(git -C "$repo" log -1 --format=%ct 2>/dev/null || date +%s)"
find "$stage" -exec touch -h -d "@$epoch" {} +
tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$epoch" -cf - "$linux_name" |
  gzip -n -9 >"$out/$linux_name.tar.gz"
(cd "$stage" && find "$windows_name" | LC_ALL=C sort | TZ=UTC zip -q -X -9 -@ "$out/$windows_name.zip")
(cd "$out" && sha256sum "$linux_name.tar.gz" "$windows_name.zip" >"PluginPendulum-$version-SHA256SUMS.txt")
rm -rf "$stage"

phase "done"
ls -l "$out/$linux_name.tar.gz" "$out/$windows_name.zip" "$out/PluginPendulum-$version-SHA256SUMS.txt"
