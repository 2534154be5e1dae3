#!/bin/sh
# korvanta-hwinfo --prometheus read by Prometheus' own tools on simulated units:
# promtool's linter, and a real node_exporter on loopback whose textfile
# collector is scraped over HTTP. The exporter is ours and stopped on every path.
# Then the shipped alerting rules, checked and unit-tested by promtool.
#   check_prometheus.sh KORVANTA_SIM KORVANTA_HWINFO UNITS_DIR RULES
set -eu
sim=$1 hwinfo=$2 units=$3 rules=$4

check=prometheus
. "$(dirname "$0")/fleet.sh"
for tool in promtool prometheus-node-exporter curl; do
    command -v $tool >/dev/null ||
        unavailable "$tool not found: install the Debian packages prometheus, prometheus-node-exporter and curl"
done

work=$(mktemp -d)
exporter=
stop() {
    [ -z "$exporter" ] || { kill "$exporter" 2>/dev/null; wait "$exporter" 2>/dev/null || true; }
    rm -rf "$work"
}
trap stop EXIT
trap 'exit 1' HUP INT TERM
mkdir "$work/textfile"

timeout 120 prometheus-node-exporter --web.listen-address=127.0.0.1:0 --collector.disable-defaults \
    --collector.textfile --collector.textfile.directory="$work/textfile" 2> "$work/exporter.log" &
exporter=$!
port=$(listening_port "$work/exporter.log" "$exporter") ||
    { cat "$work/exporter.log" >&2; fail "node_exporter did not start on loopback"; }

# Files may hold any 32 characters: this serial needs escaping in a label.
printf '%s\n' '{"store": "files", "serial": "say \"hi\" C:\\korvanta 0123456789a", "robot_status": 5}' > "$work/quoting.json"

# Each unit's file in turn, with what the exporter must then serve (labels
# sorted, empty ones left out).
for unit in "$units/robot-dvt2-release.json" "$units/nothing.json" "$work/quoting.json"; do
    case $unit in
        */robot-dvt2-release.json) expected='robot_uuid="8d4e2f6a1b3c45d7e9f0a1b2c3d4e5f6"' ;;
        */nothing.json) expected='{board_type="UNKNOWN",cpu_serial="",hw_uuid="",robot_status="UNKNOWN",robot_uuid="",robot_uuid_source="none",robot_version="UNKNOWN",serial="",source="none"} 1' ;;
        *) expected='serial="say \"hi\" C:\\korvanta 0123456789a"' ;;
    esac
    "$sim" "$unit" -- "$hwinfo" --prometheus "$work/textfile/korvanta.prom" || fail "korvanta-hwinfo failed on $unit"
    promtool check metrics < "$work/textfile/korvanta.prom" || fail "promtool rejects the metrics of $unit"
    curl -sf --max-time 10 "http://127.0.0.1:$port/metrics" > "$work/scraped" || fail "no answer from node_exporter"
    grep -qx 'node_textfile_scrape_error 0' "$work/scraped" || fail "node_exporter could not read the metrics of $unit"
    grep -qF "$expected" "$work/scraped" || fail "node_exporter does not serve $expected for $unit"
done
echo "prometheus: promtool and node_exporter read every unit's metrics"

promtool check rules "$rules" || fail "promtool rejects $rules"
promtool test rules "$(dirname "$0")/korvanta-identity.test.yml" || fail "the alerts do not fire as their tests expect"
