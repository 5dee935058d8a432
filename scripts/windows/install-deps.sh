#!/usr/bin/env bash
# Sets up a Debian 12 machine for the Windows x64 lane: the MinGW-w64 cross compiler, Wine and
# Xvfb from apt, then static MinGW builds of
#   - libjpeg-turbo and libpng (Debian's JUCE uses the system's image libraries, and Debian ships
#     no MinGW build of them), from Debian's own source packages;
#   - GoogleTest, from the sources that Debian's googletest package installs.
# Each is kept in a cache folder keyed by its versions, so later runs skip the work:
#   <cache>/mingw-w64/current            libjpeg-turbo + libpng
#   <cache>/mingw-w64/googletest-current GoogleTest
# cmake/toolchains/mingw-w64.cmake finds both there. Safe to run repeatedly.
#
#   PLUGINPENDULUM_CACHE   cache root (default: $HOME/.cache/pluginpendulum)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
toolchain="$repo/cmake/toolchains/mingw-w64.cmake"

# Bump when the way the libraries are built changes, so old caches are not reused.
recipe=2

cache_root="${PLUGINPENDULUM_CACHE:-${HOME:-/root}/.cache/pluginpendulum}"
libs_root="$cache_root/mingw-w64"

export DEBIAN_FRONTEND=noninteractive
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"

log() { echo "[windows deps] $*" >&2; }

# ---------------------------------------------------------------------------------------------
# 1. Packages
packages=(
  cmake ninja-build dpkg-dev
  juce-modules-source
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libz-mingw-w64-dev
  wine64 wine
  xvfb xauth
  python3 googletest
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  log "installing: ${missing[*]}"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# ---------------------------------------------------------------------------------------------
# 2. libjpeg-turbo and libpng for MinGW-w64, from Debian's source packages

work="$(mktemp -d "${TMPDIR:-/tmp}/pendulum-mingw-libs.XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir -p "$libs_root"

build_image_libs() {

# A private apt configuration with a deb-src line for bookworm main on the archive the machine
# already uses; the machine's own package lists stay untouched.
archive="$(
  { grep -hs -E '^\s*URIs:' /etc/apt/sources.list.d/*.sources | awk '{print $2}' || true
    grep -hs -E '^\s*deb\s' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
      sed -E 's/\[[^]]*\]//' | awk '{print $2}' || true
  } 2>/dev/null | grep -E '/debian/?$' | head -n1
)" || true
archive="${archive:-http://deb.debian.org/debian}"
keyring=/usr/share/keyrings/debian-archive-keyring.gpg

aptdir="$work/apt"
mkdir -p "$aptdir/lists/partial" "$aptdir/cache/archives/partial" "$aptdir/parts" "$aptdir/prefs"
echo "deb-src [signed-by=$keyring] ${archive%/} bookworm main" > "$aptdir/sources.list"
apt_private=(
  -o "Dir::Etc::SourceList=$aptdir/sources.list"
  -o "Dir::Etc::SourceParts=$aptdir/parts"
  -o "Dir::Etc::PreferencesParts=$aptdir/prefs"
  -o "Dir::State::Lists=$aptdir/lists"
  -o "Dir::Cache=$aptdir/cache"
  -o "APT::Sandbox::User=root"
)
log "fetching source packages from ${archive%/} (bookworm main)"
apt-get "${apt_private[@]}" -qq update
srcver() { apt-cache "${apt_private[@]}" showsrc "$1" | awk '/^Version:/{print $2; exit}'; }
jpeg_ver="$(srcver libjpeg-turbo)"
png_ver="$(srcver libpng1.6)"
[ -n "$jpeg_ver" ] && [ -n "$png_ver" ] || { log "could not find the source packages"; exit 1; }

# Folder names stay plain: libjpeg-turbo's install rules choke on characters such as '+'.
key="$(printf 'libjpeg-turbo-%s_libpng-%s_r%s' "$jpeg_ver" "$png_ver" "$recipe" | tr -c 'A-Za-z0-9._\n-' '_')"
prefix="$libs_root/$key"

if [ ! -f "$prefix/.complete-r$recipe" ]; then
  (cd "$work" && apt-get "${apt_private[@]}" -qq source "libjpeg-turbo=$jpeg_ver" "libpng1.6=$png_ver" >/dev/null)
  jpeg_src="$(find "$work" -maxdepth 1 -type d -name 'libjpeg-turbo-*' | head -n1)"
  png_src="$(find "$work" -maxdepth 1 -type d -name 'libpng1.6-*' | head -n1)"

  rm -rf "$prefix"
  mkdir -p "$prefix"
  cm=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
      -DCMAKE_INSTALL_PREFIX="$prefix" -DPENDULUM_MINGW_LIBS_PREFIX="$prefix"
      -DCMAKE_POSITION_INDEPENDENT_CODE=ON -Wno-dev)

  log "building libjpeg-turbo $jpeg_ver"
  # (libjpeg-turbo's own install-dir logic takes relative dirs from the command line as relative to
  # the current folder, so its defaults are kept.)
  cmake -S "$jpeg_src" -B "$work/build-jpeg" "${cm[@]}" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF \
    -DWITH_JPEG8=OFF >"$work/jpeg.log" 2>&1 \
    && cmake --build "$work/build-jpeg" >>"$work/jpeg.log" 2>&1 \
    && cmake --install "$work/build-jpeg" >>"$work/jpeg.log" 2>&1 \
    || { tail -n 40 "$work/jpeg.log" >&2; exit 1; }

  # JUCE's JPEG code includes jpegint.h, which libjpeg-turbo does not install.
  cp "$jpeg_src/jpegint.h" "$prefix/include/"
  # JUCE includes jpeglib.h inside a namespace after windows.h; rpcndr.h's 'boolean' is then out
  # of reach, so jconfig.h must declare it itself in every case.
  python3 - "$prefix/include/jconfig.h" <<'PY'
import re, sys
path = sys.argv[1]
text = open(path).read()
fixed, n = re.subn(r'#ifndef __RPCNDR_H__[^\n]*\n(typedef unsigned char boolean;)\n#endif[^\n]*',
                   r'\1', text)
if n != 1:
    sys.exit("jconfig.h: the guarded 'boolean' typedef was not found")
open(path, 'w').write(fixed)
PY
  log "building libpng $png_ver"
  cmake -S "$png_src" -B "$work/build-png" "${cm[@]}" \
    -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DPNG_FRAMEWORK=OFF \
    -DSKIP_INSTALL_PROGRAMS=ON -DSKIP_INSTALL_FILES=OFF >"$work/png.log" 2>&1 \
    && cmake --build "$work/build-png" >>"$work/png.log" 2>&1 \
    && cmake --install "$work/build-png" >>"$work/png.log" 2>&1 \
    || { tail -n 40 "$work/png.log" >&2; exit 1; }

  printf 'libjpeg-turbo %s\nlibpng1.6 %s\nrecipe %s\n' "$jpeg_ver" "$png_ver" "$recipe" > "$prefix/VERSIONS"
  touch "$prefix/.complete-r$recipe"
fi

ln -sfn "$key" "$libs_root/current"
# Builds for other versions or recipes are no longer used.
find "$libs_root" -mindepth 1 -maxdepth 1 -type d -name 'libjpeg-turbo-*' ! -name "$key" -exec rm -rf {} +
log "MinGW libjpeg/libpng installed in $prefix"
}

if [ -f "$libs_root/current/.complete-r$recipe" ]; then
  log "MinGW libjpeg/libpng cached in $(readlink -f "$libs_root/current")"
else
  build_image_libs
fi

# ---------------------------------------------------------------------------------------------
# 3. GoogleTest for MinGW-w64 (the tests' find_package(GTest) picks up its GTestConfig.cmake)

gtest_ver="$(dpkg-query -W -f='${Version}' googletest)"
gtest_key="$(printf 'googletest-%s_r%s' "$gtest_ver" "$recipe" | tr -c 'A-Za-z0-9._\n-' '_')"
gtest_prefix="$libs_root/$gtest_key"
if [ ! -f "$gtest_prefix/.complete-r$recipe" ]; then
  log "building GoogleTest $gtest_ver"
  rm -rf "$gtest_prefix"
  cmake -S /usr/src/googletest -B "$work/build-gtest" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$gtest_prefix" -DCMAKE_INSTALL_LIBDIR=lib -Wno-dev \
    -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON >"$work/gtest.log" 2>&1 \
    && cmake --build "$work/build-gtest" >>"$work/gtest.log" 2>&1 \
    && cmake --install "$work/build-gtest" >>"$work/gtest.log" 2>&1 \
    || { tail -n 40 "$work/gtest.log" >&2; exit 1; }
  touch "$gtest_prefix/.complete-r$recipe"
  log "MinGW GoogleTest installed in $gtest_prefix"
else
  log "MinGW GoogleTest cached in $gtest_prefix"
fi
ln -sfn "$gtest_key" "$libs_root/googletest-current"
find "$libs_root" -mindepth 1 -maxdepth 1 -type d -name 'googletest-*' ! -name "$gtest_key" -exec rm -rf {} +
