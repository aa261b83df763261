#!/usr/bin/env bash
# Writes a small installer that names PRODUCT and VERSION the way a real one does: a Debian
# package (deb) or a setup program with the installer's own version resource (exe).
#
# Usage: make_installer_fixture.sh deb|exe OUT PRODUCT VERSION [VERSION_INFO_NSH]
set -euo pipefail
kind=$1 out=$2 product=$3 version=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/quietway-fixture.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$(dirname "$out")"
if [ "$kind" = deb ]; then
  mkdir -p "$work/DEBIAN"
  printf '%s\n' "Package: $product" "Version: $version" 'Architecture: all' \
    'Maintainer: Quietway developers <dev@quietway.invalid>' 'Description: test installer' \
    >"$work/DEBIAN/control"
  dpkg-deb --root-owner-group -Zgzip --build "$work" "$out" >/dev/null
else
  printf '%s\n' 'Unicode true' 'Target amd64-unicode' "OutFile \"$out\"" \
    "!include \"$5\"" 'Section' 'SectionEnd' >"$work/fixture.nsi"
  # The product name as a setup program carries it: capitalised.
  makensis -V2 -DPRODUCT="${product^}" -DVERSION_QUAD="$version" "$work/fixture.nsi" >/dev/null
fi
