#!/bin/sh
# The Ansible local fact as the tool package installs it, gathered by Debian's
# ansible-core on a simulated unit: ansible_local.korvanta must be exactly what
# korvanta-hwinfo --json prints there.
#   check_ansible.sh BUILD_DIR KORVANTA_SIM UNIT BINDIR LIBDIR DATADIR
# KORVANTA_EMULATOR (words, if any) runs the installed tool, as the fact finds it on PATH.
set -eu
build=$1 sim=$2 unit=$3 bindir=$4 libdir=$5 datadir=$6

check=ansible
. "$(dirname "$0")/fleet.sh"
command -v ansible >/dev/null || unavailable "ansible not found: install the Debian package ansible-core"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for component in runtime tools; do
    cmake --install "$build" --prefix "$work/prefix" --component $component >/dev/null
done
fact=$work/prefix/$datadir/korvanta-hwinfo/ansible/korvanta.fact
[ -x "$fact" ] || fail "the tool package installs no executable $fact"
mkdir "$work/facts.d"
ln -s "$fact" "$work/facts.d/korvanta.fact"
path=$work/prefix/$bindir
if [ -n "${KORVANTA_EMULATOR:-}" ]; then
    path=$work/emulated
    mkdir "$path"
    printf '#!/bin/sh\nexec %s "%s" "$@"\n' "$KORVANTA_EMULATOR" "$work/prefix/$bindir/korvanta-hwinfo" > "$path/korvanta-hwinfo"
    chmod 755 "$path/korvanta-hwinfo"
fi

export HOME="$work" ANSIBLE_LOCAL_TEMP="$work/ansible-tmp" ANSIBLE_NOCOLOR=1 LC_ALL=C.UTF-8 \
    ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3 \
    PATH="$path:$PATH" LD_LIBRARY_PATH="$work/prefix/$libdir"
"$sim" "$unit" -- sh -c '
    ansible localhost -c local -m setup -a "filter=ansible_local fact_path=$1" > "$2/ansible.out" &&
    korvanta-hwinfo --json > "$2/hwinfo.json"' sh "$work/facts.d" "$work" ||
    { cat "$work/ansible.out" >&2; fail "ansible or korvanta-hwinfo failed on the unit"; }

/usr/bin/python3 - "$work/ansible.out" "$work/hwinfo.json" <<'PYTHON' || fail "ansible_local.korvanta differs"
import json, sys
answer = open(sys.argv[1]).read()  # "localhost | SUCCESS => {...}"
facts = json.loads(answer[answer.index("=>") + 2:])["ansible_facts"]["ansible_local"]
shown = json.load(open(sys.argv[2]))
if facts.get("korvanta") != shown:
    sys.exit(f"ansible_local: {json.dumps(facts)}\nkorvanta-hwinfo --json: {json.dumps(shown)}")
print("ansible: ansible_local.korvanta is korvanta-hwinfo --json:", shown["uuid"])
PYTHON
