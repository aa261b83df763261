#!/usr/bin/env bash
# Cross-builds the Windows dependencies (jsoncpp, civetweb, tinyxml2 and OpenSSL from Debian
# source packages, GoogleTest from /usr/src/googletest) as static libraries into a prefix
# outside the repository, and the outside programs the engine runs (openvpn.exe, plink.exe,
# curl.exe, from Debian's openvpn, putty and curl sources) into PREFIX/tools/bin. A complete
# prefix is reused as it is. OpenSSL and the programs have stamps of their own, so an older
# prefix only gains what it lacks.
#
# Usage: scripts/windows-deps.sh [--libraries|--tools] [PREFIX]
#   (default PREFIX $QUIETWAY_WIN_DEPS or /opt/quietway-win-deps). --libraries builds only what
#   the Windows tree links; --tools only the programs, on libraries already there: the programs
#   are needed first by the package tests, so the test command builds them beside other work.
set -euo pipefail

part=all
case ${1:-} in
  --libraries) part=libraries; shift ;;
  --tools) part=tools; shift ;;
esac

here=$(cd "$(dirname "$0")" && pwd)
toolchain=$here/../cmake/mingw-w64-x86_64.cmake
prefix=${1:-${QUIETWAY_WIN_DEPS:-/opt/quietway-win-deps}}
stamp=$prefix/.quietway-complete
stamp_version=2
openssl_stamp=$prefix/.quietway-openssl
openssl_stamp_version=2
tools_stamp=$prefix/.quietway-tools
tools_stamp_version=1

stamp_holds() { [ -f "$1" ] && [ "$(cat "$1")" = "$2" ]; }

base_done=false
openssl_done=false
tools_done=false
stamp_holds "$stamp" "$stamp_version" && base_done=true
$base_done && stamp_holds "$openssl_stamp" "$openssl_stamp_version" && openssl_done=true
$openssl_done && stamp_holds "$tools_stamp" "$tools_stamp_version" && tools_done=true
if $tools_done || { [ $part = libraries ] && $openssl_done; }; then
  echo "windows-deps: reusing $prefix"
  exit 0
fi
if [ $part = tools ] && ! $openssl_done; then
  echo "windows-deps: the libraries come first: scripts/windows-deps.sh --libraries" >&2
  exit 1
fi

work=$(mktemp -d /tmp/quietway-win-deps.XXXXXX)
apt_sources=/etc/apt/sources.list.d/quietway-deb-src.sources
cleanup() {
  # Leave APT as it was found: drop our source list and the index it brought in.
  if [ -f "$apt_sources" ]; then
    rm -f "$apt_sources"
    apt-get update -q >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
cat >"$apt_sources" <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename $codename-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
apt-get update -q

# Unpacks a Debian source package into $work/src-NAME. apt has checked the .dsc against the
# archive's index, and dpkg-source checks every file against the .dsc. An upstream signature
# the mirror does not carry (putty's) fails apt's download but nothing else: it is dropped
# from the list dpkg-source looks for, since nothing here could verify it anyway.
unpack_source_package() {
  local package=$1
  (cd "$work" && apt-get source --download-only -q "$package") || true
  local dsc
  dsc=$(ls "$work"/"$package"_*.dsc | head -n 1)
  local file
  for file in $(awk '/^Files:/ { f = 1; next } /^[^ ]/ { f = 0 } f { print $3 }' "$dsc"); do
    if [[ $file == *.asc && ! -f $work/$file ]]; then
      grep -vF " $file" "$dsc" >"$dsc.local"
      mv "$dsc.local" "$dsc"
    fi
  done
  dpkg-source -x "$dsc" "$work/src-$package" >/dev/null
}

build_source_package() {
  local package=$1; shift
  unpack_source_package "$package"
  cmake_build "$work/src-$package" "$work/build-$package" "$@"
}

# OpenSSL has its own Configure; libcrypto for our digests and signatures, libssl for
# openvpn.exe, without assembly so that no assembler beyond the cross compiler is involved.
build_openssl() {
  unpack_source_package openssl
  local src=$work/src-openssl
  (cd "$src" &&
    ./Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- no-shared no-tests no-asm \
      no-dso no-engine --prefix="$prefix" --libdir=lib &&
    make -j2 build_generated >/dev/null &&
    make -j2 libcrypto.a libssl.a >/dev/null)
  mkdir -p "$prefix/include/openssl" "$prefix/lib"
  cp "$src"/include/openssl/*.h "$prefix/include/openssl/"
  cp "$src/libcrypto.a" "$src/libssl.a" "$prefix/lib/"
}

# shellcheck source=scripts/windows-tools.sh
source "$here/windows-tools.sh"

cmake_build() {
  local src=$1 build=$2; shift 2
  cmake -S "$src" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DQUIETWAY_WIN_DEPS="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DCMAKE_CROSSCOMPILING_EMULATOR= "$@"
  cmake --build "$build"
  cmake --install "$build"
}

if ! $base_done; then
  rm -rf "$prefix"
  mkdir -p "$prefix"

  build_source_package libjsoncpp \
    -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF -DBUILD_OBJECT_LIBS=OFF \
    -DBUILD_STATIC_LIBS=ON -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF
  build_source_package tinyxml2 -Dtinyxml2_BUILD_TESTING=OFF
  # The library's own select()-based poll lists each socket twice (read and error sets), which
  # makes Wine's server abort (complete_async_poll assertion) under load; the system's WSAPoll
  # lists it once.
  build_source_package civetweb \
    -DCIVETWEB_ENABLE_SSL=OFF -DCIVETWEB_ENABLE_LUA=OFF -DCIVETWEB_ENABLE_DUKTAPE=OFF \
    -DCIVETWEB_BUILD_TESTING=OFF -DCIVETWEB_ENABLE_SERVER_EXECUTABLE=OFF \
    -DCIVETWEB_INSTALL_EXECUTABLE=OFF -DCIVETWEB_DISABLE_CGI=ON -DCIVETWEB_ENABLE_CXX=OFF \
    "-DCMAKE_C_FLAGS=-D_WIN32_WINNT=0x0601 -DHAVE_POLL -Dpoll=WSAPoll"
  cmake_build /usr/src/googletest "$work/build-googletest" -Dgtest_disable_pthreads=OFF

  echo "$stamp_version" >"$stamp"
fi

if ! $openssl_done; then
  timed OpenSSL build_openssl
  echo "$openssl_stamp_version" >"$openssl_stamp"
fi

if [ $part = libraries ]; then
  echo "windows-deps: libraries installed into $prefix"
  exit 0
fi

rm -rf "$prefix/tools"
timed LZO build_lzo
timed openvpn.exe build_openvpn
timed plink.exe build_plink
timed curl.exe build_curl
# Static as they are, each must run on a bare Windows: only the system's own DLLs.
"$here/check-pe-imports.sh" "$prefix/tools/bin"
echo "$tools_stamp_version" >"$tools_stamp"
echo "windows-deps: installed into $prefix"
