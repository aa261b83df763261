# The outside programs the engine runs on Windows, cross-built from Debian's source packages
# into $prefix/tools/bin. Sourced by scripts/windows-deps.sh, which provides $work, $prefix,
# $toolchain, unpack_source_package and an OpenSSL (libssl, libcrypto) in $prefix.
#
# Every program is linked statically (C runtime and libraries included), so each .exe imports
# only DLLs that come with Windows.

mingw=x86_64-w64-mingw32
tools_bin=$prefix/tools/bin
tap_header_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/windows-tools

# Runs a build step and prints how long it took.
timed() { # NAME COMMAND...
  local name=$1 started
  shift
  started=$(date +%s)
  "$@"
  echo "windows-deps: $name built in $(($(date +%s) - started)) s"
}

# LZO for openvpn.exe only: the servers' configuration asks for LZO framing ("comp-lzo"), and a
# client without it passes no packet. It goes into a private prefix, linked into the program.
build_lzo() {
  unpack_source_package lzo2
  (cd "$work/src-lzo2" &&
    ./configure -q --host=$mingw --prefix="$work/lzo" --disable-shared --enable-static &&
    make -j2 >/dev/null && make install >/dev/null)
}

# openvpn.exe with OpenSSL and LZO, and the TAP driver's interface header from beside this
# script. Left out: LZ4 (no source package is built for it here and
# the servers do not use it), PKCS#11 (needs pkcs11-helper; the account's key is a file),
# plug-ins (none are loaded) and the unit tests. Only the client program itself is made; the
# interactive service and the adapter tools are not part of what the engine runs.
build_openvpn() {
  unpack_source_package openvpn
  local lzo=$work/lzo
  (cd "$work/src-openvpn" &&
    ./configure -q --host=$mingw --disable-lz4 --disable-plugins --disable-pkcs11 \
      --disable-unit-tests --disable-debug \
      OPENSSL_CFLAGS="-I$prefix/include" \
      OPENSSL_LIBS="-L$prefix/lib -lssl -lcrypto -lcrypt32 -lws2_32 -luser32 -ladvapi32" \
      LZO_CFLAGS="-I$lzo/include" LZO_LIBS="-L$lzo/lib -llzo2" \
      CPPFLAGS="-I$tap_header_dir" LDFLAGS="-static" &&
    make -j2 -C src/compat >/dev/null &&
    make -j2 -C src/openvpn openvpn.exe >/dev/null)
  install -D -m 0755 "$work/src-openvpn/src/openvpn/openvpn.exe" "$tools_bin/openvpn.exe"
}

# plink.exe from the putty source; only that one program is built.
build_plink() {
  unpack_source_package putty
  cmake -S "$work/src-putty" -B "$work/build-putty" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DQUIETWAY_WIN_DEPS="$prefix" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CROSSCOMPILING_EMULATOR= -DCMAKE_EXE_LINKER_FLAGS=-static >/dev/null
  cmake --build "$work/build-putty" --target plink >/dev/null
  install -D -m 0755 "$work/build-putty/plink.exe" "$tools_bin/plink.exe"
}

# curl.exe on the OpenSSL already built for openvpn.exe. Windows' own TLS (Schannel) would make
# a smaller program, but under Wine, where the tests run, Schannel is Wine's emulation on the
# host's TLS library, and there the first FTPS transfer of a fresh prefix once hung for over a
# minute; OpenSSL runs the same code under Wine as on Windows. The engine uses curl for FTP
# over TLS only, so the other protocols' libraries are left out.
build_curl() {
  unpack_source_package curl
  cmake -S "$work/src-curl" -B "$work/build-curl" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DQUIETWAY_WIN_DEPS="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CROSSCOMPILING_EMULATOR= -DCMAKE_EXE_LINKER_FLAGS=-static \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=ON -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
    -DCURL_USE_OPENSSL=ON -DOPENSSL_ROOT_DIR="$prefix" -DOPENSSL_USE_STATIC_LIBS=ON \
    -DCURL_USE_SCHANNEL=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF \
    -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF -DCURL_USE_LIBPSL=OFF -DCURL_DISABLE_LDAP=ON \
    "-DCMAKE_C_STANDARD_LIBRARIES=-lcrypt32 -lws2_32 -lbcrypt -luser32 -ladvapi32" >/dev/null
  cmake --build "$work/build-curl" --target curl >/dev/null
  install -D -m 0755 "$work/build-curl/src/curl.exe" "$tools_bin/curl.exe"
}
