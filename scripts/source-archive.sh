#!/usr/bin/env bash
# Writes OUTDIR/sensor-companion-VERSION-source.tar.gz, the commit being built as
# `git archive` packs it, so that every binary is published with its exact source (the
# GPL asks for it, and the LGPL lets users relink the statically linked Qt from it).
# Prints the archive's path.
#   scripts/source-archive.sh VERSION OUTDIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
version=$1
out=$(cd "$2" && pwd)
archive=$out/sensor-companion-$version-source.tar.gz

if ! git -C "$root" rev-parse --verify -q HEAD >/dev/null; then
  echo "No git commit in $root: cannot write $archive" >&2
  exit 1
fi
# The archive holds the commit; changes not yet committed are built but not in it.
if ! git -C "$root" diff --quiet HEAD --; then
  echo "warning: uncommitted changes are built but not in $(basename "$archive")" >&2
fi
git -C "$root" archive --format=tar.gz --prefix="sensor-companion-$version/" -o "$archive" HEAD
echo "$archive"
