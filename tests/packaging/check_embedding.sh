#!/bin/bash
# A project that takes the source tree in with add_subdirectory() builds the
# library alone, and links it: no other program or shared object of ours, and
# no nlohmann_json looked for.
#
#   check_embedding.sh SOURCE CONSUMER_SOURCE VERSION
# For the build's target: KORVANTA_TOOLCHAIN_FILE (if any) configures the
# consumer, and KORVANTA_EMULATOR (words, if any) runs it.
set -eu
source=$1 consumer=$2 version=$3
emulator=${KORVANTA_EMULATOR:-}
toolchain=()
[ -n "${KORVANTA_TOOLCHAIN_FILE:-}" ] && toolchain=(-DCMAKE_TOOLCHAIN_FILE="$KORVANTA_TOOLCHAIN_FILE")

scratch=$(mktemp -d "${TMPDIR:-/tmp}/korvanta-embedding.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake -S "$consumer" -B "$scratch" "${toolchain[@]}" -DKORVANTA_SOURCE_DIR="$source" >/dev/null
cmake --build "$scratch" -j2 >/dev/null
output=$($emulator "$scratch/consumer") || fail "consumer exited with $?"
[ "$output" = "RELEASE class-interface /etc/korvanta/robot_id" ] || fail "consumer printed '$output'"

built=$(cd "$scratch" && find . -type f -perm -u+x -not -path '*/CMakeFiles/*' | sort)
expected=$(printf '%s\n' ./consumer "./korvanta-hardware/hardware/libkorvanta-hardware.so.$version")
[ "$built" = "$expected" ] || fail "built:"$'\n'"$built"$'\n'"expected:"$'\n'"$expected"
! grep -q '^nlohmann_json_DIR' "$scratch/CMakeCache.txt" || fail "nlohmann_json was looked for"
