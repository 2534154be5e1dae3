#!/bin/bash
# The Debian packages: built with CPack from a tree configured for /usr, each
# unpacked into a scratch root (dpkg -x) and checked for its files, its
# dependencies, its architecture and, for the library, its soname, shlibs and
# ldconfig trigger.
#
#   check_debs.sh SOURCE WORK VERSION PYTHON_EXECUTABLE|""
# WORK keeps the packaging tree between runs, so that a rerun builds little.
# For the build's target: CC names its compiler, which names the architecture;
# KORVANTA_TOOLCHAIN_FILE (if any) configures the tree and KORVANTA_EMULATOR
# (words, if any) runs the packaged tool.
set -eu
source=$1 work=$2 version=$3 python=${4:-}
major=${version%%.*}
emulator=${KORVANTA_EMULATOR:-}
triplet=$(${CC:-cc} -dumpmachine)
architecture=$(dpkg-architecture -t "$triplet" -qDEB_HOST_ARCH 2>/dev/null)
multiarch=$(dpkg-architecture -t "$triplet" -qDEB_HOST_MULTIARCH 2>/dev/null)
libdir=usr/lib/$multiarch
python_dir=usr/lib/python3/dist-packages

fail() { echo "FAIL: $*" >&2; exit 1; }

tree=$work/tree
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF
         -DKORVANTA_BUILD_BENCHMARKS=OFF)
[ -n "${KORVANTA_TOOLCHAIN_FILE:-}" ] && options+=(-DCMAKE_TOOLCHAIN_FILE="$KORVANTA_TOOLCHAIN_FILE")
if [ -n "$python" ]; then
    # The package is for this interpreter's version, and for no other.
    python_version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
    python_next="${python_version%.*}.$((${python_version#*.} + 1))"
    options+=(-DKORVANTA_BUILD_PYTHON=ON -DKORVANTA_PYTHON_VERSIONS="$python_version"
              -DKORVANTA_PYTHON${python_version/./}_EXECUTABLE="$python")
else
    options+=(-DKORVANTA_BUILD_PYTHON=OFF)
fi
cmake -S "$source" -B "$tree" "${options[@]}" >/dev/null
cmake --build "$tree" -j2 >/dev/null
rm -f "$tree"/*.deb
(cd "$tree" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack failed"; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/korvanta-debs.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

deb_of() { compgen -G "$tree/$1_*.deb" || fail "package $1 was not built"; }
field() { dpkg-deb -f "$(deb_of "$1")" "$2"; }
# Every file and link the package holds, without directories, sorted.
contents() { dpkg-deb -c "$(deb_of "$1")" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||' | sort; }
expect_contents() {  # package, expected paths...
    local package=$1
    shift
    local expected
    expected=$(printf '%s\n' "$@" | sort)
    [ "$(contents "$package")" = "$expected" ] ||
        fail "$package holds:"$'\n'"$(contents "$package")"$'\n'"expected:"$'\n'"$expected"
}
# What every package holds beside its payload.
debian_files() {  # package
    printf '%s\n' "usr/share/doc/$1/copyright" "usr/share/doc/$1/changelog.Debian.gz" "usr/share/lintian/overrides/$1"
}
expect_depends() {  # package, dependency
    field "$1" Depends | tr ',' '\n' | sed 's/^ *//' | grep -qxF "$2" || fail "$1 does not depend on '$2': $(field "$1" Depends)"
}

runtime=libkorvanta-hardware$major
release=$(field "$runtime" Version)
[ "${release%-*}" = "$version" ] || fail "$runtime has version $release"
root=$scratch/root
for deb in "$tree"/*.deb; do
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$architecture" ] ||
        fail "$(basename "$deb") is for $(dpkg-deb -f "$deb" Architecture), not $architecture"
    dpkg -x "$deb" "$root"
done
# One changelog for all, whose newest entry is this release.
zcat "$root/usr/share/doc/$runtime/changelog.Debian.gz" | head -n 1 | grep -qF "($release)" ||
    fail "the changelog's newest entry is not $release"

# Runtime: the library and its soname link, and the korvanta group with the
# udev rule that lets it read the EEPROM, created and applied on installation.
expect_contents "$runtime" "$libdir/libkorvanta-hardware.so.$version" "$libdir/libkorvanta-hardware.so.$major" \
    usr/lib/sysusers.d/korvanta-hardware.conf usr/lib/udev/rules.d/60-korvanta-eeprom.rules $(debian_files "$runtime")
dpkg-deb -I "$(deb_of "$runtime")" postinst | grep -q "systemd-sysusers /usr/lib/sysusers.d/korvanta-hardware.conf" ||
    fail "$runtime does not create the korvanta group on installation"
readelf -d "$root/$libdir/libkorvanta-hardware.so.$version" | grep -q "(SONAME).*\[libkorvanta-hardware.so.$major\]" ||
    fail "wrong soname"
[ "$(readlink "$root/$libdir/libkorvanta-hardware.so.$major")" = "libkorvanta-hardware.so.$version" ] ||
    fail "soname link points elsewhere"
# From dpkg-shlibdeps: the C and C++ runtimes the library links.
field "$runtime" Depends | grep -q "libc6 (>=" && field "$runtime" Depends | grep -q "libstdc++6 (>=" ||
    fail "$runtime does not depend on the C and C++ runtimes: $(field "$runtime" Depends)"
dpkg-deb -I "$(deb_of "$runtime")" shlibs | grep -qxF "libkorvanta-hardware $major $runtime (>= $version)" ||
    fail "$runtime has no shlibs entry"
[ "$(field "$runtime" Section)" = libs ] || fail "$runtime is not in section libs"
[ "$(field "$runtime" Multi-Arch)" = same ] || fail "$runtime is not Multi-Arch: same"
# dpkg's trigger updates the loader cache; no maintainer script does.
dpkg-deb -I "$(deb_of "$runtime")" triggers | grep -qxF "activate-noawait ldconfig" || fail "$runtime has no ldconfig trigger"
for script in preinst postinst prerm postrm; do
    ! dpkg-deb -I "$(deb_of "$runtime")" "$script" 2>/dev/null | grep -qw ldconfig || fail "$runtime's $script calls ldconfig"
done

# Development files: headers, link name, pkg-config file and CMake package for /usr.
dev=libkorvanta-hardware-dev
cmake_dir=$libdir/cmake/KorvantaHardware
expect_contents "$dev" usr/include/korvanta_hardware.h usr/include/korvanta_hardware_flat.h \
    usr/include/korvanta_hardware_export.h "$libdir/libkorvanta-hardware.so" "$libdir/pkgconfig/korvanta-hardware.pc" \
    "$cmake_dir/KorvantaHardwareConfig.cmake" "$cmake_dir/KorvantaHardwareConfigVersion.cmake" \
    "$cmake_dir/KorvantaHardwareTargets.cmake" "$cmake_dir/KorvantaHardwareTargets-relwithdebinfo.cmake" \
    $(debian_files "$dev")
[ "$(readlink "$root/$libdir/libkorvanta-hardware.so")" = "libkorvanta-hardware.so.$major" ] ||
    fail "link name does not point at the soname"
expect_depends "$dev" "$runtime (= $release)"
pc=$root/$libdir/pkgconfig/korvanta-hardware.pc
grep -qx "prefix=/usr" "$pc" && grep -qxF "libdir=\${exec_prefix}/lib/$multiarch" "$pc" ||
    fail "pkg-config file is not for /usr:"$'\n'"$(cat "$pc")"

# The tool: runs from the unpacked root against the packaged library.
tool=korvanta-hwinfo
units=usr/lib/systemd/system/korvanta-hwinfo-prometheus
expect_contents "$tool" usr/bin/korvanta-hwinfo "$units.service" "$units.timer" \
    usr/share/korvanta-hwinfo/ansible/korvanta.fact usr/share/korvanta-hwinfo/prometheus/korvanta-identity.rules.yml \
    usr/share/man/man1/korvanta-hwinfo.1.gz $(debian_files "$tool")
grep -qx "ExecStart=/usr/bin/korvanta-hwinfo --prometheus .*" "$root/$units.service" ||
    fail "the service does not run the packaged tool"
expect_depends "$tool" "$runtime (= $release)"
[ "$(env LD_LIBRARY_PATH="$root/$libdir" $emulator "$root/usr/bin/korvanta-hwinfo" --version)" = "korvanta-hwinfo $version" ] ||
    fail "the packaged tool does not run"

# Simulated units: the tool, the one sandbox launcher it runs, and the example units.
sim=korvanta-sim
expect_contents "$sim" usr/bin/korvanta-sim usr/libexec/korvanta-sandbox \
    $(cd "$source/sim/units" && printf 'usr/share/korvanta-hardware/units/%s ' *.json) \
    usr/share/man/man1/korvanta-sim.1.gz usr/share/man/man1/korvanta-sandbox.1.gz $(debian_files "$sim")
expect_depends "$sim" "$runtime (= $release)"
expect_depends "$sim" "mount"

# Each manual page is the program's own --help.
for program in korvanta-hwinfo korvanta-sim korvanta-sandbox; do
    zcat "$root/usr/share/man/man1/$program.1.gz" | grep -q "^\.TH ${program^^} \"1\" " || fail "no manual page for $program"
done
zcat "$root/usr/share/man/man1/korvanta-hwinfo.1.gz" | grep -qF PROD_2 || fail "korvanta-hwinfo(1) lacks its --help"

# The Python module: for its CPython version only, in the directory Debian's python3 imports from.
if [ -n "$python" ]; then
    module=python3-korvanta-hardware
    so=$(contents "$module" | grep '\.so$') || fail "$module holds no module"
    expect_contents "$module" "$so" "$python_dir/korvanta_hardware_module.pyi" $(debian_files "$module")
    case $so in "$python_dir"/korvanta_hardware_module*.so) ;; *) fail "module at $so" ;; esac
    expect_depends "$module" "$runtime (= $release)"
    expect_depends "$module" "python3 (>= $python_version~)"
    expect_depends "$module" "python3 (<< $python_next)"
    readelf -d "$root/$so" | grep -q "(NEEDED).*\[libkorvanta-hardware.so.$major\]" ||
        fail "the module does not load the library by its soname"
    env LD_LIBRARY_PATH="$root/$libdir" PYTHONPATH="$root/$python_dir" "$python" -c 'import korvanta_hardware_module' ||
        fail "the packaged module does not import"
fi
summaries=$(for deb in "$tree"/*.deb; do dpkg-deb -f "$deb" Description | head -n 1; done)
[ -z "$(sort <<<"$summaries" | uniq -d)" ] || fail "packages share a summary:"$'\n'"$summaries"
echo "packages OK for $architecture: $(cd "$tree" && echo *.deb)"
