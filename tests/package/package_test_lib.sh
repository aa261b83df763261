# shellcheck shell=bash
# What the Debian package tests share: checks that count failures, bounded waits, the package
# built at given versions, and the booted root with the package's dependencies. Sourced; needs
# root.
# shellcheck source=tests/package/systemd_root.sh
source "$(dirname "${BASH_SOURCE[0]}")/systemd_root.sh"

failures=0
check() { # DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAILED: $what"
    failures=$((failures + 1))
  fi
}

# Waits until COMMAND succeeds, for at most SECONDS.
within() { # SECONDS COMMAND...
  local tries=0 limit=$(($1 * 10))
  shift
  until "$@"; do
    [ $tries -lt $limit ] || return 1
    sleep 0.1
    tries=$((tries + 1))
  done
}
eventually() { within 30 "$@"; }

project_version() { # SOURCE_DIR
  sed -n 's/^project(Quietway VERSION \([0-9.]*\).*/\1/p' "$1/CMakeLists.txt"
}

# Builds the package at VERSION into OUT_DIR/VERSION and prints the .deb's path.
build_deb() { # SOURCE_DIR BUILD_DIR OUT_DIR VERSION
  QUIETWAY_PACKAGE_VERSION=$4 QUIETWAY_PACKAGE_OUT=$3/$4 QUIETWAY_LINUX_BUILD=$2 \
    "$1/scripts/package.sh" deb >/dev/null
  ls "$3/$4"/*.deb
}

# Boots a throwaway copy of a root that holds DEB's dependencies and the EXTRA packages a
# test needs (see boot_container).
boot_root_for() { # DEB BUILD_DIR LOG [EXTRA...]
  local depends root
  mapfile -t depends < <(dpkg-deb -f "$1" Depends | tr ',' '\n' |
    sed 's/(.*)//; s/|.*//; s/ //g' | grep -v '^$')
  root=$(systemd_root "$2/package-root" "${depends[@]}" "${@:4}")
  boot_container "$root" "$3"
}
