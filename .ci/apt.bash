# apt as CI needs it; sourced by the scripts in .ci/.
#
# A mirror caught mid-sync serves some index files that do not match their
# Release file, and `apt-get update` then exits 100 although every package we
# need still installs. So an index that fails is reported and passed over;
# only a package that cannot be installed fails the run.

export DEBIAN_FRONTEND=noninteractive

# Another apt (unattended-upgrades, a second CI step) may hold the lock.
apt_options=(-q -o DPkg::Lock::Timeout=600)

# apt_update: refreshes the package lists, three tries a few seconds apart.
apt_update() {
    local try
    for try in 1 2 3; do
        apt-get "${apt_options[@]}" update && return 0
        [ "$try" -lt 3 ] && sleep 5
    done
    echo "apt: some package lists could not be refreshed (see above); going on with the lists apt has" >&2
}

# apt_has PACKAGE: whether apt knows a package of that name that it can install.
# grep reads to the end (no -q): a grep that stopped at the match would leave
# apt-cache to die of SIGPIPE, which fails the test in a script under pipefail.
apt_has() {
    apt-cache policy "$1" 2>/dev/null | grep '^  Candidate: [^(]' >/dev/null
}

# apt_first_of PACKAGE...: prints the first package apt has; when it has none,
# the first one named, so that apt_install's failure names it.
apt_first_of() {
    local package
    for package in "$@"; do
        if apt_has "$package"; then
            echo "$package"
            return
        fi
    done
    echo "$1"
}

# apt_install PACKAGE...: installs them, or names each one that cannot be
# installed and fails.
apt_install() {
    apt-get "${apt_options[@]}" install -y --no-install-recommends "$@" && return 0
    local package missing=()
    for package in "$@"; do
        apt-get "${apt_options[@]}" install -y -s --no-install-recommends "$package" >/dev/null 2>&1 ||
            missing+=("$package")
    done
    echo "apt: could not install ${missing[*]:-the packages above}" >&2
    return 1
}
