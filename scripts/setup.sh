#!/usr/bin/env bash
# Installs with apt-get everything the Linux build, the Windows cross build and the tests
# need. Safe to run again: packages already present are left as they are.
set -euo pipefail

packages=(
  # Linux build
  build-essential cmake ninja-build pkg-config clang-format
  libjsoncpp-dev libcivetweb-dev libtinyxml2-dev libcurl4-openssl-dev libssl-dev
  libnftables-dev libsystemd-dev libgtest-dev libgmock-dev googletest
  # Windows cross build and its dependencies from Debian source packages
  g++-mingw-w64-x86-64-posix mingw-w64-tools dpkg-dev
  # Windows tests
  wine wine64 xvfb
  # tests: namespaces, firewall, loopback peers, the lab's resolvers
  nftables iproute2 iputils-ping python3 file procps util-linux dnsmasq-base
  gsettings-desktop-schemas dconf-gsettings-backend libglib2.0-bin dbus
  # tray: Linux front end, its icons and sound, its tests under Xvfb
  libayatana-appindicator3-dev libgtk-3-dev libnotify-dev libcanberra-gtk3-dev
  librsvg2-bin icoutils imagemagick xauth trayer xdotool
  # web interface tests in a headless browser
  chromium chromium-driver python3-selenium
  # fuzzing: clang with the libFuzzer and sanitizer runtimes; the leak test's capture
  clang libclang-rt-14-dev tcpdump
  # packages: the Debian package and its checks, the Windows installer, the systemd test root
  lintian nsis debootstrap systemd-container
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q "${missing[@]}"
