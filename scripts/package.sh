#!/usr/bin/env bash
# Builds the Debian package in one go: a Release build for the prefix /usr with Debian's
# hardening flags in build-deb/ (or $DEB_BUILD_DIR), the .deb made by CPack, then lintian,
# desktop-file-validate and appstreamcli check what it ships. Fails on any error or
# warning. The source of the commit built goes beside the package as
# sensor-companion-<version>-source.tar.gz. The last line printed is the package's path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DEB_BUILD_DIR:-$root/build-deb}

"$root/scripts/deps.sh" dpkg-dev file lintian desktop-file-utils appstream

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_C_FLAGS="$cppflags $(dpkg-buildflags --get CFLAGS)" \
  -DCMAKE_CXX_FLAGS="$cppflags $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS) -Wl,--as-needed" \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
# Only what the package holds; the tests and benchmarks are built by scripts/test.sh.
# Only what the package holds: cpack installs without building everything else first.
cmake --build "$build" -j"$(nproc)" --target sensor-companion sensor-companion-ports sensor-sim \
  sc_package_files
rm -f "$build"/sensor-companion_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/sensor-companion_*.deb)
# dpkg-shlibdeps names the libraries the program links; the trend window needs Qt Charts.
dpkg-deb -f "$deb" Depends | grep -q 'libqt6charts6' ||
  { echo "the package does not depend on Qt Charts: $(dpkg-deb -f "$deb" Depends)" >&2; exit 1; }

echo "== lintian"
lintian --fail-on error,warning --display-info --pedantic "$deb"
echo "== desktop-file-validate, appstreamcli"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"
desktop-file-validate "$tree"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$tree"/usr/share/metainfo/*.metainfo.xml
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
echo "== source: $("$root/scripts/source-archive.sh" "$version" "$build")"
echo "$deb"
