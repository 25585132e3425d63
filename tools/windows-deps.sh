#!/usr/bin/env bash
# Builds the dependencies of the Windows host (JsonCpp, zlib, libzip) for
# mingw-w64 from Debian's source packages, and GoogleTest for the Windows unit tests
# from the sources that Debian's libgtest-dev installs in /usr/src/googletest,
# and installs them into a prefix.
#
#   tools/windows-deps.sh PREFIX            for the 32-bit host (i686)
#   tools/windows-deps.sh PREFIX x86_64     for the 64-bit host
#
# The result is cached by version: when PREFIX/.versions already names the
# versions asked for, nothing is done.
set -euo pipefail

usage="usage: windows-deps.sh PREFIX [i686|x86_64]"
prefix=$(realpath -m "${1:?$usage}")
target=${2:-i686}
root=$(cd "$(dirname "$0")/.." && pwd)
toolchain="$root/cmake/mingw-$target.cmake"
case $target in
  i686 | x86_64) ;;
  *) echo "$usage" >&2 && exit 2 ;;
esac
suite=bookworm
packages=(libjsoncpp zlib libzip)

# The deb-src twin of the machine's Debian sources, so apt-get source works.
ensure_sources() {
  local list=/etc/apt/sources.list.d/vorneth-deb-src.sources
  [ -f "$list" ] && return 0
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | "${sudo[@]}" tee "$list" >/dev/null
  else
    grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' | "${sudo[@]}" tee "${list%.sources}.list" >/dev/null
    "${sudo[@]}" touch "$list"
  fi
  "${sudo[@]}" apt-get update -qq
}

version_of() { apt-cache showsrc "$1" 2>/dev/null | awk '/^Version:/ {print $2; exit}'; }

# Builds for both targets may run at once: one of them adds the source list
# and updates apt's lists while the other waits for it.
exec 9>"${TMPDIR:-/tmp}/vorneth-windows-deps.lock"
flock 9
ensure_sources
flock -u 9
wanted="target=$target "
for package in "${packages[@]}"; do wanted+="$package=$(version_of "$package") "; done
gtest_sources=/usr/src/googletest
wanted+="googletest=$(dpkg-query -W -f='${Version}' libgtest-dev) "
if [ -f "$prefix/.versions" ] && [ "$(cat "$prefix/.versions")" = "$wanted" ]; then
  echo "windows dependencies up to date in $prefix ($wanted)"
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
apt-get source --download-only -qq "${packages[@]/%//$suite}" >/dev/null 2>&1
for dsc in *.dsc; do dpkg-source -x "$dsc" >/dev/null 2>&1; done

cmake -S "$work"/libjsoncpp-*/ -B "$work/jsoncpp-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DVORNETH_WINDOWS_DEPS="$prefix" \
  -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF -DJSONCPP_WITH_TESTS=OFF \
  -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF -DJSONCPP_WITH_PKGCONFIG_SUPPORT=ON -DJSONCPP_WITH_CMAKE_PACKAGE=ON >/dev/null
ninja -C "$work/jsoncpp-build" install >/dev/null

# zlib: Debian's source lacks the win32/ folder its install rules need, so
# only the static library is built; it and its two headers go in by hand.
zlib_build="$work/zlib-build"
cmake -S "$work"/zlib-*/ -B "$zlib_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$zlib_build" zlibstatic >/dev/null
mkdir -p "$prefix/include" "$prefix/lib"
cp "$work"/zlib-*/zlib.h "$zlib_build/zconf.h" "$prefix/include/"
cp "$zlib_build/libzlibstatic.a" "$prefix/lib/libz.a"

# libzip, static, reading and writing plain archives only: no encryption,
# no other compression methods, no tools.
cmake -S "$work"/libzip-*/ -B "$work/libzip-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DVORNETH_WINDOWS_DEPS="$prefix" \
  -DBUILD_SHARED_LIBS=OFF -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF \
  -DENABLE_OPENSSL=OFF -DENABLE_WINDOWS_CRYPTO=OFF -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF \
  -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF >/dev/null 2>&1
ninja -C "$work/libzip-build" install >/dev/null

# GoogleTest with its own threads on the posix runtime; gmock is not used.
cmake -S "$gtest_sources" -B "$work/gtest-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DVORNETH_WINDOWS_DEPS="$prefix" \
  -DBUILD_GMOCK=OFF -DBUILD_SHARED_LIBS=OFF -Dgtest_disable_pthreads=OFF >/dev/null
ninja -C "$work/gtest-build" install >/dev/null

echo "$wanted" >"$prefix/.versions"
echo "windows dependencies built into $prefix ($wanted)"
