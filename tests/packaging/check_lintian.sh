#!/bin/bash
# lintian, Debian's own checker, on the packages that check_debs.sh built in
# WORK/tree: no error, and no warning but those the packages override, each
# with its reason. (Asked to show overrides, lintian would count them as
# findings.) Outside CI a machine without lintian skips this (exit 77).
#
#   check_lintian.sh WORK
set -eu
if ! command -v lintian >/dev/null; then
    if [ -n "${CI:-}" ]; then
        echo "FAIL: lintian is missing; .ci/install-deps --tests installs it" >&2
        exit 1
    fi
    echo "Skipped: lintian is not installed (apt-get install lintian)"
    exit 77
fi
lintian --fail-on error,warning "$1"/tree/*.deb
echo "lintian OK"
