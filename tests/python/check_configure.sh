#!/bin/bash
# Configure's choice of the Python versions, and what it says about each: the
# project configured for the library and the module alone, against a pybind11
# of a given version (its version file, and empty targets), and no other: every
# other package search is rooted in an empty directory.
#
#   check_configure.sh SOURCE CMAKE
set -eu
source=$1 cmake=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/korvanta-configure.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# A pybind11 that is only its version, in $work/pybind11-VERSION.
fake_pybind11() {
    local dir=$work/pybind11-$1
    mkdir -p "$dir"
    cat > "$dir/pybind11ConfigVersion.cmake" <<EOF
set(PACKAGE_VERSION $1)
set(PACKAGE_VERSION_COMPATIBLE TRUE)
if(PACKAGE_VERSION VERSION_LESS PACKAGE_FIND_VERSION)
  set(PACKAGE_VERSION_COMPATIBLE FALSE)
endif()
EOF
    cat > "$dir/pybind11Config.cmake" <<'EOF'
add_library(pybind11::module INTERFACE IMPORTED)
add_library(pybind11::lto INTERFACE IMPORTED)
function(pybind11_strip target)
endfunction()
EOF
    echo "$dir"
}

# expect PYBIND11_VERSION EXPECTED_OUTPUT [ENV=VALUE... --] CMAKE_OPTIONS...:
# configures, and fails unless the output holds the expected text.
expect() {
    local version=$1 expected=$2 environment=()
    shift 2
    if [[ ${1:-} != -* && ${1:-} == *=* ]]; then
        while [ "$1" != -- ]; do environment+=("$1"); shift; done
        shift
    fi
    local dir output
    dir=$(fake_pybind11 "$version")
    rm -rf "$work/tree"
    output=$(env -u CMAKE_PREFIX_PATH "${environment[@]}" "$cmake" -S "$source" -B "$work/tree" \
                 -DCMAKE_FIND_ROOT_PATH="$work/nothing" -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY -Dpybind11_DIR="$dir" \
                 -DKORVANTA_BUILD_TOOLS=OFF -DKORVANTA_BUILD_TESTS=OFF -DKORVANTA_BUILD_BENCHMARKS=OFF \
                 -DKORVANTA_BUILD_EXAMPLES=OFF -DKORVANTA_BUILD_FUZZERS=OFF "$@" 2>&1 | tr -s ' \n' ' ') || true
    grep -qF -- "$expected" <<<"$output" || fail "pybind11 $version, $*: expected '$expected' in:"$'\n'"$output"
    echo "ok: pybind11 $version, $*"
}

# A pybind11 too old for the module's own conversions is named, with the floor.
expect 2.8.0 "pybind11 2.8.0 was found ($work/pybind11-2.8.0/pybind11Config.cmake) but 2.9 or newer is needed" \
    -DKORVANTA_BUILD_PYTHON=ON -DKORVANTA_PYTHON_VERSIONS=3.10
# A version newer than pybind11 supports is left out, or refused when required.
expect 2.10.0 "Python 3.12: pybind11 2.10.0 supports CPython 3.6 to 3.11, not 3.12" \
    -DKORVANTA_BUILD_PYTHON=ON -DKORVANTA_PYTHON_VERSIONS=3.12
expect 2.9.0 "Python module left out for: Python 3.11: pybind11 2.9.0 supports CPython 3.5 to 3.10, not 3.11" \
    -DKORVANTA_PYTHON_VERSIONS=3.11
# A version named as something else is refused.
expect 2.13.0 "KORVANTA_PYTHON_VERSIONS: '3.x' is not a CPython version" -DKORVANTA_PYTHON_VERSIONS=3.x
# Without a 3.10 the default is the system's python3, when it has its headers;
# its version when named is built with a pybind11 that supports it.
if /usr/bin/python3 -c 'import os, sys, sysconfig
sys.exit(not os.path.isfile(os.path.join(sysconfig.get_path("include"), "Python.h")))' 2>/dev/null; then
    system=$(/usr/bin/python3 -c 'import sys; print("%d.%d.%d" % sys.version_info[:3])') minor=${system%.*}
    expect 2.13.0 "CPython 3.10 was not found: the Python module is built for the system's python3, Python $system (/usr/bin/python3)" \
        HOME=/nonexistent PATH=/usr/bin:/bin PYENV_ROOT=/nonexistent -- -DKORVANTA_BUILD_PYTHON=ON
    expect 2.13.0 "Python module built for CPython $minor" \
        -DKORVANTA_PYTHON_VERSIONS="$minor" -DKORVANTA_PYTHON${minor/./}_EXECUTABLE=/usr/bin/python3
else
    echo "skipped: /usr/bin/python3 has no headers, so no default to try"
fi
