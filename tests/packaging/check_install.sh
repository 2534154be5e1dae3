#!/bin/bash
# `cmake --install` into a scratch prefix gives a tree that other projects build
# against, with pkg-config and with find_package(KorvantaHardware), and whose
# programs run from there. Touches no identity: the consumers only name codes.
#
#   check_install.sh BUILD CONSUMER_SOURCE VERSION LIBDIR INCLUDEDIR BINDIR [PYTHON PYTHON_DIR]
set -eu
build=$1 consumer=$2 version=$3 libdir=$4 includedir=$5 bindir=$6
python=${7:-} python_dir=${8:-}
major=${version%%.*}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/korvanta-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }
expect_output() {  # expected, command...
    local expected=$1 actual
    shift
    actual=$("$@") || fail "$* exited with $?"
    [ "$actual" = "$expected" ] || fail "$*: expected '$expected', got '$actual'"
}

for component in runtime development tools; do
    cmake --install "$build" --prefix "$prefix" --component "$component" >/dev/null
done
lib=$prefix/$libdir

# The library under its full version, reached through the soname and the link name.
[ -f "$lib/libkorvanta-hardware.so.$version" ] && [ ! -L "$lib/libkorvanta-hardware.so.$version" ] ||
    fail "no libkorvanta-hardware.so.$version"
[ "$(readlink "$lib/libkorvanta-hardware.so.$major")" = "libkorvanta-hardware.so.$version" ] ||
    fail "libkorvanta-hardware.so.$major does not point at the library"
[ "$(readlink "$lib/libkorvanta-hardware.so")" = "libkorvanta-hardware.so.$major" ] ||
    fail "libkorvanta-hardware.so does not point at the soname"
readelf -d "$lib/libkorvanta-hardware.so.$version" | grep -q "(SONAME).*\[libkorvanta-hardware.so.$major\]" ||
    fail "wrong soname"
# The Debian packages' own files stay in the packages.
[ ! -e "$prefix/share/doc" ] && [ ! -e "$prefix/share/lintian" ] || fail "Debian package files installed under $prefix"
for header in korvanta_hardware.h korvanta_hardware_flat.h korvanta_hardware_export.h; do
    [ -f "$prefix/$includedir/$header" ] || fail "header $header not installed"
done

# Installed programs must not reach back into the build tree.
if readelf -d "$prefix/$bindir/korvanta-hwinfo" | grep -E "R(UN)?PATH" | grep -qF "$build"; then
    fail "korvanta-hwinfo keeps a run path into the build tree"
fi
expect_output "korvanta-hwinfo $version" env LD_LIBRARY_PATH="$lib" "$prefix/$bindir/korvanta-hwinfo" --version

# pkg-config, relocated to the scratch prefix; a C program.
export PKG_CONFIG_PATH=$lib/pkgconfig
pc=(pkg-config --define-variable=prefix="$prefix" korvanta-hardware)
expect_output "$version" "${pc[@]}" --modversion
# shellcheck disable=SC2046
cc -Wall -Wextra -Werror -std=c99 "$consumer/consumer.c" $("${pc[@]}" --cflags --libs) -o "$scratch/c-consumer"
expect_output "RELEASE SIMULATION_BOARD STATION_VERSION_2024_930 KORVANTA_PRO_EVT eeprom:text" \
    env LD_LIBRARY_PATH="$lib" "$scratch/c-consumer"

# find_package, from C++; a newer major version must not be taken for this one.
cmake -S "$consumer" -B "$scratch/cmake-consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/cmake-consumer" >/dev/null
expect_output "RELEASE class-interface /etc/korvanta/robot_id" env LD_LIBRARY_PATH="$lib" "$scratch/cmake-consumer/consumer"
if cmake -S "$consumer" -B "$scratch/cmake-consumer-next" -DCMAKE_PREFIX_PATH="$prefix" \
    -DKORVANTA_WANTED_VERSION=$((major + 1)) >/dev/null 2>&1; then
    fail "find_package(KorvantaHardware $((major + 1))) accepted version $version"
fi

# The Python module: under the prefix by default, where the interpreter looks in
# a tree installed there; a directory set as absolute is staged with DESTDIR.
if [ -n "$python" ]; then
    case $python_dir in
        /*) staged=$scratch/root$python_dir
            DESTDIR=$scratch/root cmake --install "$build" --component python >/dev/null ;;
        *) staged=$prefix/$python_dir
            cmake --install "$build" --prefix "$prefix" --component python >/dev/null
            "$python" -c 'import os, site, sys; sys.exit(os.path.realpath(sys.argv[1]) not in
                {os.path.realpath(p) for p in site.getsitepackages([sys.argv[2]])})' "$staged" "$prefix" ||
                fail "$python does not import from $python_dir under a prefix" ;;
    esac
    compgen -G "$staged/korvanta_hardware_module*.so" >/dev/null || fail "module not installed in $staged"
    [ -f "$staged/korvanta_hardware_module.pyi" ] || fail "stub not installed beside the module"
    expect_output "$staged" env LD_LIBRARY_PATH="$lib" PYTHONPATH="$staged" "$python" -c \
        'import os, korvanta_hardware_module as m; print(os.path.dirname(m.__file__))'
fi
echo "install tree OK"
