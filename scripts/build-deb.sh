#!/bin/sh
# make deb: the Debian packages, built the Debian way (dpkg-buildpackage, from
# debian/) in a copy of the source under build/deb, so that nothing is
# written beside the checkout. Leaves in build/: linewatch_<version>_<arch>.deb,
# its -dbgsym package, and the source package (.dsc, .tar.xz), each with its
# .changes for lintian.
set -eu
cd "$(dirname "$0")/.."

version=$(dpkg-parsechangelog -S Version)
work=build/deb
source="$work/linewatch-$version"
rm -rf "$work"
mkdir -p "$source"
# What the project holds: the files git knows, or would take, as they are now.
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$source"

(cd "$source" && dpkg-buildpackage -us -uc -b && dpkg-buildpackage -us -uc -S)

rm -f build/linewatch_*.deb build/linewatch-dbgsym_*.deb build/linewatch_*.changes build/linewatch_*.buildinfo \
    build/linewatch_*.dsc build/linewatch_*.tar.xz
cp "$work"/linewatch_*.deb "$work"/linewatch-dbgsym_*.deb "$work"/linewatch_*.changes \
    "$work"/linewatch_*.buildinfo "$work"/linewatch_*.dsc "$work"/linewatch_*.tar.xz build/
ls build/linewatch*_*
