#!/usr/bin/env bash
# The Windows build, made here on Debian: cross-builds sensor-companion.exe (one static
# file) and the unit tests with MinGW-w64 against a static Qt, runs the tests under wine,
# packs the zip, the installer and the source archive, and checks the zip and the
# installer under wine against the sensor simulator. Everything goes into build-win/ (or $WIN_BUILD_DIR); the simulator comes from
# the Linux build in build/ (or $BUILD_DIR).
#   scripts/windows.sh
# The static Qt for Windows is taken from QT_MINGW, when set: its .tar.xz, a folder
# holding that file, or the unpacked Qt itself; otherwise from a shared/qt6-mingw/ beside
# the repository or beside one of the folders above it. Exits with 3 when there is none.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${WIN_BUILD_DIR:-$root/build-win}
linux_build=${BUILD_DIR:-$root/build}
started=$(date +%s)
step() { echo "== $* ($(($(date +%s) - started)) s)"; }

step "Debian packages"
"$root/scripts/deps.sh" g++-mingw-w64-x86-64-posix ninja-build wine64 nsis xclip
mkdir -p "$build"

step "Qt for Windows"
qt_from=${QT_MINGW:-}
if [ -z "$qt_from" ]; then
  dir=$root
  while [ "$dir" != / ]; do
    dir=$(dirname "$dir")
    [ -d "$dir/shared/qt6-mingw" ] && { qt_from=$dir/shared/qt6-mingw; break; }
  done
fi
if [ -f "$qt_from/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
  qt=$(cd "$qt_from" && pwd)
else
  tarball=$qt_from
  if [ -d "$qt_from" ]; then
    tarball=$(find "$qt_from" -maxdepth 1 -name 'qt6*-mingw-w64-static.tar.xz' | sort | tail -n 1)
  fi
  [ -f "$tarball" ] || { echo "No Qt for Windows found (set QT_MINGW)" >&2; exit 3; }
  qt=$build/qt
  # Unpacked again when another tarball is given, or the same name holds another build
  # (one with more modules replaced an older one): its name, size and time tell.
  from="$tarball $(stat -c '%s %Y' "$tarball")"
  if [ "$(cat "$qt/.from" 2>/dev/null)" != "$from" ]; then
    rm -rf "$qt"
    mkdir -p "$qt"
    tar -xJf "$tarball" -C "$qt" --strip-components=1
    echo "$from" > "$qt/.from"
  fi
fi

step "The simulator (Linux)"
[ -f "$linux_build/CMakeCache.txt" ] ||
  cmake -S "$root" -B "$linux_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$linux_build" -j2 --target sensor-sim

step "A fresh wine prefix"
wine=$root/packaging/windows/wine.sh
prefix=$build/wine
WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
rm -rf "$prefix"
"$wine" "$prefix" cmd /c exit

step "Cross build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" >/dev/null
cmake --build "$build" -j2
exe=$build/bin/sensor-companion.exe
# Only Windows' own DLLs: no Qt, C++ runtime or threads library may be needed beside it.
if x86_64-w64-mingw32-objdump -p "$exe" | grep -iE 'DLL Name: (qt|libstdc|libgcc|libwinpth)'; then
  echo "FAIL: sensor-companion.exe needs the DLLs above" >&2
  exit 1
fi

step "Unit tests under wine"
(cd "$build" && ctest --output-on-failure -j2)

step "Zip and installer"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=sensor-companion-$version-win64
stage=$build/package/$name
rm -rf "$build/package" "$build/$name.zip" "$build/$name-setup.exe"
mkdir -p "$stage/LICENSES"
cp "$exe" "$stage/"
# Notepad before Windows 10's 2018 releases shows a file without CR LF as one line.
sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "$root/packaging/windows/README.txt" \
  > "$stage/README.txt"
cp "$qt/LICENSES/"* "$stage/LICENSES/"
sed -e 's/$/\r/' "$root/LICENSE" > "$stage/LICENSE.txt"
(cd "$build/package" && cmake -E tar cf "$build/$name.zip" --format=zip "$name")
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DICON="$build/sensor-companion.ico" \
  -DOUTFILE="$build/$name-setup.exe" "$root/packaging/windows/installer.nsi"
# The source the README names, beside the zip and the installer.
source_archive=$("$root/scripts/source-archive.sh" "$version" "$build")
ls -l "$build/$name.zip" "$build/$name-setup.exe" "$source_archive"

step "End-to-end under wine"
bash "$root/tests/e2e/windows.sh" "$prefix" "$build/$name.zip" "$build/$name-setup.exe" \
  "$linux_build/bin/sensor-sim" "$build/window-windows.png"

step "Done: $build/$name.zip, $build/$name-setup.exe"
