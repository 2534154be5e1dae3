#!/bin/sh
# The README's examples as a reader copies them: its C, C++ and Python blocks,
# built against this tree's library and run on a simulated unit, where each
# must show the unit's robot identifier.
#   check_examples.sh README KORVANTA_SIM UNIT INCLUDE_DIR LIBRARY_DIR CC CXX [PYTHON MODULE_DIR]
set -eu
readme=$1 sim=$2 unit=$3 include=$4 libdir=$5 cc=$6 cxx=$7 python=${8:-} module=${9:-}
fail() { echo "readme: FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The lines between "```LANGUAGE" and the next "```".
block() { awk -v fence='```'"$1" '$0 == "```" { inside = 0 } inside { print } $0 == fence { inside = 1 }' "$readme"; }
for language in c cpp python; do
    block $language > "$work/example.$language"
    [ -s "$work/example.$language" ] || fail "the README has no $language example"
done
"$cc" -std=c99 -Wall -Wextra -Werror -I"$include" "$work/example.c" -L"$libdir" -lkorvanta-hardware -o "$work/c" ||
    fail "the C example does not build"
"$cxx" -std=c++17 -Wall -Wextra -Werror -I"$include" "$work/example.cpp" -L"$libdir" -lkorvanta-hardware \
    -o "$work/cpp" || fail "the C++ example does not build"

uuid=$(sed -n 's/.*"uuid": *"\([0-9a-f]*\)".*/\1/p' "$unit")
shows_uuid() {
    LD_LIBRARY_PATH="$libdir" PYTHONPATH="$module" "$sim" "$unit" -- "$@" > "$work/out" 2>/dev/null ||
        fail "$* failed on $unit"
    grep -q "robot $uuid" "$work/out" || fail "$* does not show the robot identifier: $(cat "$work/out")"
}
shows_uuid "$work/c"
shows_uuid "$work/cpp"
[ -z "$python" ] || shows_uuid "$python" "$work/example.python"
echo "readme: the examples build and show robot $uuid"
