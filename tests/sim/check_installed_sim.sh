#!/bin/sh
# korvanta-sim installed: it finds its launcher in libexec and runs a shipped unit.
#   check_installed_sim.sh BUILD_DIR BINDIR LIBDIR DATADIR
# KORVANTA_EMULATOR (words, if any) runs the build's programs.
set -eu
build=$1 bindir=$2 libdir=$3 datadir=$4
emulator=${KORVANTA_EMULATOR:-}
prefix=$(mktemp -d "${TMPDIR:-/tmp}/korvanta-sim-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
for component in runtime tools sim; do
    cmake --install "$build" --prefix "$prefix" --component $component >/dev/null
done
# The build tree's copy must not be what answers.
[ ! -e "$prefix/$bindir/korvanta-sandbox" ]
shown=$(LD_LIBRARY_PATH="$prefix/$libdir" $emulator "$prefix/$bindir/korvanta-sim" \
    "$prefix/$datadir/korvanta-hardware/units/station-2024-930.json" -- $emulator "$prefix/$bindir/korvanta-hwinfo" --json)
echo "$shown"
echo "$shown" | grep -q '"robot_version_name": "STATION_VERSION_2024_930"'
