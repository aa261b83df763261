#!/usr/bin/env bash
# Builds the Debian package and the Windows installer into build/packages/.
#
# Usage: scripts/package.sh [deb|windows|all]        (default: all)
# Environment:
#   QUIETWAY_VENDOR_HOST      the release's vendor: [http:// or https://]host[:port]. The
#                             programs' default vendor addresses and the store's
#                             update_server_url come from it; without it the packages have no
#                             vendor addresses at all. Loopback and reserved test names are
#                             refused
#   QUIETWAY_UPDATE_PUBLIC_KEY  the Ed25519 public key (64 hexadecimal digits) whose signature
#                             an installer needs before the updater runs it; without it the
#                             installed client does not update itself
#   QUIETWAY_PACKAGE_VERSION  version to give the packages (default: the project's version);
#                             tests build a newer one to exercise upgrades
#   QUIETWAY_PACKAGE_OUT      output directory (default: build/packages)
#   QUIETWAY_LINUX_BUILD      Linux build directory (default: build/linux)
#   QUIETWAY_WINDOWS_BUILD    Windows build directory (default: build/windows)
#   QUIETWAY_JOBS             parallel build jobs (default: 2)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
what=${1:-all}
out=${QUIETWAY_PACKAGE_OUT:-$root/build/packages}
linux_build=${QUIETWAY_LINUX_BUILD:-$root/build/linux}
windows_build=${QUIETWAY_WINDOWS_BUILD:-$root/build/windows}
jobs=${QUIETWAY_JOBS:-2}
version=${QUIETWAY_PACKAGE_VERSION:-$(sed -n 's/^project(Quietway VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")}

vendor=${QUIETWAY_VENDOR_HOST:-}
update_key=${QUIETWAY_UPDATE_PUBLIC_KEY:-}

case $what in deb | windows | all) ;; *)
  echo "usage: scripts/package.sh [deb|windows|all]" >&2
  exit 2
  ;;
esac
# The version lands in control files, the store and file names: digits and dots only.
if ! [[ $version =~ ^[0-9]+(\.[0-9]+){0,3}$ ]]; then
  echo "package: bad version '$version' (up to four numbers with dots)" >&2
  exit 2
fi

# The vendor is the release's: never a loopback or test address that any local user or test
# server could answer on.
if [ -n "$vendor" ]; then
  if ! [[ $vendor =~ ^(https?://)?([A-Za-z0-9.-]+)(:[0-9]+)?$ ]]; then
    echo "package: bad QUIETWAY_VENDOR_HOST '$vendor' ([http(s)://]host[:port])" >&2
    exit 2
  fi
  vendor_name=${BASH_REMATCH[2],,}
  if [[ $vendor_name =~ ^(localhost|127\..*|0\..*|.*\.(localhost|test|invalid|example)|(.*\.)?example\.(com|net|org))\.?$ ]]; then
    echo "package: QUIETWAY_VENDOR_HOST '$vendor' is a loopback or test address" >&2
    exit 2
  fi
  [[ $vendor == http://* || $vendor == https://* ]] || vendor=http://$vendor
fi
if [ -n "$update_key" ] && ! [[ $update_key =~ ^[0-9A-Fa-f]{64}$ ]]; then
  echo "package: QUIETWAY_UPDATE_PUBLIC_KEY must be 64 hexadecimal digits" >&2
  exit 2
fi
[ -n "$vendor" ] || echo "package: no QUIETWAY_VENDOR_HOST: the packages name no vendor" >&2
[ -n "$update_key" ] ||
  echo "package: no QUIETWAY_UPDATE_PUBLIC_KEY: the installed client will not update itself" >&2

programs=(quietway_service quietway_updater quietway_firewall quietway_tray quietway_ctl
  quietway_reg quietway_crash_upload)
targets=("${programs[@]}" quietway_tray_assets)

work=$(mktemp -d "${TMPDIR:-/tmp}/quietway-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

build() { # DIR [cmake options...]
  local dir=$1
  shift
  local first=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
  [ ! -f "$dir/build.ninja" ] || first=()
  # Set on every run: a tree configured earlier with another vendor must not lend it to this
  # release.
  cmake -S "$root" -B "$dir" "${first[@]}" -DQUIETWAY_VENDOR_HOST="$vendor" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs" --target "${targets[@]}"
}

# The shipped defaults (CR LF lines, as regedit writes them) with the release's version,
# vendor record address and signing key.
write_defaults() { # OUT
  cp "$root/packaging/defaults/quietway-defaults.reg" "$1"
  printf '\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quietway2\\app]\r\n' >>"$1"
  printf '"app_version"="%s"\r\n' "$version" >>"$1"
  [ -z "$vendor" ] ||
    printf '"update_server_url"="%s/updater/quietway_version.txt"\r\n' "$vendor" >>"$1"
  [ -z "$update_key" ] || printf '"update_public_key"="%s"\r\n' "$update_key" >>"$1"
}

# Finds a built program by name (each sits in its own folder of the build tree).
program_path() { # DIR NAME
  local found
  found=$(find "$1" -path '*/CMakeFiles' -prune -o -path '*/tests' -prune -o \
    -type f -name "$2" -perm -u+x -print | head -n 1)
  if [ -z "$found" ]; then
    echo "package: $2 not found under $1" >&2
    return 1
  fi
  printf '%s\n' "$found"
}

# Both services' units, the text their own "-i" writes.
install_units() { # STAGE
  local tool unit_dir=$1/lib/systemd/system
  tool=$(program_path "$linux_build" quietway_unit_text)
  mkdir -p "$unit_dir"
  "$tool" Quietway2 /opt/quietway/bin/quietway_service >"$unit_dir/Quietway2.service"
  "$tool" QuietwayUpdater /opt/quietway/bin/quietway_updater >"$unit_dir/QuietwayUpdater.service"
  chmod 0644 "$unit_dir"/*.service
}

# The manual pages, each into the section its name ends with.
install_manuals() { # STAGE
  local page section
  for page in "$root"/docs/man/*.[18]; do
    section=${page##*.}
    mkdir -p "$1/usr/share/man/man$section"
    gzip -9n <"$page" >"$1/usr/share/man/man$section/$(basename "$page").gz"
    chmod 0644 "$1/usr/share/man/man$section/$(basename "$page").gz"
  done
}

package_deb() {
  # Linux only: the DNS helper, and the tool that writes the units
  local programs=("${programs[@]}" quietway_dns)
  local targets=("${targets[@]}" quietway_dns quietway_unit_text)
  build "$linux_build"
  local stage=$work/deb
  local app=$stage/opt/quietway
  mkdir -p "$app/bin" "$app/share" "$stage/DEBIAN" "$stage/etc/xdg/autostart" \
    "$stage/usr/share/doc/quietway" "$stage/usr/share/lintian/overrides"
  for program in "${programs[@]}"; do
    install -m 0755 "$(program_path "$linux_build" "$program")" "$app/bin/$program"
    strip --strip-unneeded --remove-section=.comment --remove-section=.note "$app/bin/$program"
  done
  local assets
  assets=$(dirname "$(program_path "$linux_build" quietway_tray)")/tray-assets
  cp -r "$assets" "$app/bin/tray-assets"
  # The engine starts its tunnel tools from app_dir/bin under these names.
  ln -s /usr/sbin/openvpn "$app/bin/openvpn"
  ln -s /usr/bin/plink "$app/bin/plink"
  ln -s /usr/bin/curl "$app/bin/curl"
  cp -r "$root/web" "$app/web"
  write_defaults "$app/share/quietway-defaults.reg"
  chmod 0644 "$app/share/quietway-defaults.reg"
  # The same text the engine writes when it first starts, so the two never differ.
  printf '%s\n' '[Desktop Entry]' 'Type=Application' 'Name=Quietway' \
    'Comment=Quietway connection status' 'Exec="/opt/quietway/bin/quietway_tray"' \
    'Terminal=false' 'NoDisplay=true' 'X-GNOME-Autostart-enabled=true' \
    >"$stage/etc/xdg/autostart/quietway-tray.desktop"
  install_units "$stage"
  install_manuals "$stage"
  install -D -m 0644 "$root/packaging/bash-completion/quietway_ctl" \
    "$stage/usr/share/bash-completion/completions/quietway_ctl"
  install -m 0644 "$root/packaging/debian/copyright" "$stage/usr/share/doc/quietway/"
  printf 'quietway (%s) unstable; urgency=medium\n\n  * Release %s.\n\n -- %s  %s\n' \
    "$version" "$version" 'Quietway developers <dev@quietway.invalid>' \
    "$(date -R -d "@$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)")" |
    gzip -9n >"$stage/usr/share/doc/quietway/changelog.gz"
  install -m 0644 "$root/packaging/debian/lintian-overrides" \
    "$stage/usr/share/lintian/overrides/quietway"
  find "$stage" -type d -exec chmod 0755 {} +
  find "$app/web" "$app/bin/tray-assets" -type f -exec chmod 0644 {} +

  # Library dependencies from the programs themselves, plus the tools the engine starts.
  mkdir -p "$work/shlibs/debian"
  printf 'Source: quietway\n\nPackage: quietway\nArchitecture: any\n' \
    >"$work/shlibs/debian/control"
  local shlibs
  shlibs=$(cd "$work/shlibs" && dpkg-shlibdeps -O "${programs[@]/#/$app/bin/}" 2>/dev/null |
    sed -n 's/^shlibs:Depends=//p')
  [ -n "$shlibs" ] || { echo "package: dpkg-shlibdeps found no libraries" >&2; return 1; }
  local depends="$shlibs, openvpn, putty-tools, curl"

  local arch size
  arch=$(dpkg --print-architecture)
  size=$(du -sk --exclude=DEBIAN "$stage" | cut -f1)
  sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@SIZE@/$size/" \
    -e "s/@DEPENDS@/$depends/" "$root/packaging/debian/control.in" >"$stage/DEBIAN/control"
  for script in postinst prerm postrm; do
    sed "s/@VERSION@/$version/" "$root/packaging/debian/$script" >"$stage/DEBIAN/$script"
    chmod 0755 "$stage/DEBIAN/$script"
  done
  echo /etc/xdg/autostart/quietway-tray.desktop >"$stage/DEBIAN/conffiles"
  (cd "$stage" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z |
    xargs -0 md5sum >DEBIAN/md5sums)

  local deb=$out/quietway_${version}_$arch.deb
  dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
  echo "package: $deb"
}

package_windows() {
  local targets=("${targets[@]}" refresh_ie) # Windows only
  build "$windows_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
  local bin=$work/win-bin
  mkdir -p "$bin"
  for program in "${programs[@]}"; do
    cp "$(program_path "$windows_build" "$program.exe")" "$bin/"
    x86_64-w64-mingw32-strip --strip-unneeded "$bin/$program.exe"
  done
  # Tests leave stand-ins of the same name in the build's Wine prefix: ours is where it is built.
  cp "$(program_path "$windows_build/tools/refresh_ie" refresh_ie.exe)" "$bin/"
  x86_64-w64-mingw32-strip --strip-unneeded "$bin/refresh_ie.exe"
  cp "$(dirname "$(program_path "$windows_build" quietway_tray.exe)")/beep-04.wav" "$bin/"
  # The tunnel tools the engine runs from bin, cross-built into the prefix the build used.
  local deps
  deps=$(sed -n 's/^QUIETWAY_WIN_DEPS:PATH=//p' "$windows_build/CMakeCache.txt")
  for tool in openvpn plink curl; do
    if [ ! -f "$deps/tools/bin/$tool.exe" ]; then
      echo "package: $deps/tools/bin/$tool.exe missing: run scripts/windows-deps.sh" >&2
      return 1
    fi
    cp "$deps/tools/bin/$tool.exe" "$bin/"
    x86_64-w64-mingw32-strip --strip-unneeded "$bin/$tool.exe"
  done
  local setup=$out/quietway-setup-$version.exe
  write_defaults "$work/quietway-defaults.reg"
  # The version resource takes four numbers.
  local quad=$version
  while [[ $quad =~ ^[0-9]+(\.[0-9]+){0,2}$ ]]; do quad=$quad.0; done
  makensis -V2 -DVERSION="$version" -DVERSION_QUAD="$quad" -DBIN_DIR="$bin" -DWEB_DIR="$root/web" \
    -DDEFAULTS="$work/quietway-defaults.reg" -DOUTFILE="$setup" \
    "$root/packaging/windows/quietway.nsi"
  echo "package: $setup"
}

case $what in
  deb) package_deb ;;
  windows) package_windows ;;
  all)
    package_deb
    package_windows
    ;;
esac
