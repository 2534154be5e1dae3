#!/bin/sh
# The shipped alerts on a real Prometheus server. A fleet of simulated units,
# each with its own node_exporter on loopback whose textfile directory
# korvanta-hwinfo --prometheus filled, scraped and evaluated every second.
# Among healthy units: two clones sharing one robot identifier, one on the
# /etc/machine-id stand-in, one without any identity and one whose timer
# stopped an hour ago. Exactly their alerts must fire, nothing may be pending,
# and the statuses must add up. Every server is ours and stopped on every path.
#   check_alerts.sh KORVANTA_SIM KORVANTA_HWINFO RULES [UNITS]
# UNITS (24 by default, at least 7) sizes the fleet, to measure the server.
set -eu
sim=$1 hwinfo=$2 rules=$3 size=${4:-24}
check=alerts
. "$(dirname "$0")/fleet.sh"
for tool in prometheus prometheus-node-exporter curl /usr/bin/python3; do
    command -v $tool >/dev/null ||
        unavailable "$tool not found: install the Debian packages prometheus, prometheus-node-exporter and curl"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/korvanta-alerts.XXXXXX")
servers=
stop() {
    for pid in $servers; do kill "$pid" 2>/dev/null || true; done
    for pid in $servers; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap stop EXIT
trap 'exit 1' HUP INT TERM
started=$(date +%s.%N)

# --- The fleet: unit-01 .. unit-NN, each line of expected.alerts one alert.
hex() { printf '%s%08x' "$1" "$2"; }  # a usable identifier: a 24-digit prefix and the unit's number
statuses="RELEASE QA_TEST PROD_0 PROD_1 TESTING"
: > "$work/expected.alerts"
: > "$work/statuses"
for i in $(seq "$size"); do
    name=$(printf 'unit-%02d' "$i")
    status=$(echo $statuses | cut -d' ' -f$((i % 5 + 1)))
    case $i in
        1 | 2) body="\"store\": \"files\", \"uuid\": \"$(hex 0f1e2d3c4b5a69788796a5b4 0)\"" # a cloned image
           echo "KorvantaDuplicateRobotId $name" >> "$work/expected.alerts" ;;
        3) body="\"store\": \"files\", \"machine_id\": \"$(hex d4c3b2a1f0e9487d6c5b4a39 "$i")\""
           echo "KorvantaRobotIdFromMachineId $name" >> "$work/expected.alerts" ;;
        4) body="\"store\": \"none\""
           status=UNKNOWN
           echo "KorvantaNoIdentity $name" >> "$work/expected.alerts" ;;
        5) body="\"store\": \"eeprom\", \"uuid\": \"$(hex 8d4e2f6a1b3c45d7e9f0a1b2 "$i")\""  # its timer stopped
           echo "KorvantaIdentityStale $name" >> "$work/expected.alerts" ;;
        6) body="\"store\": \"eeprom\"" ;;  # an erased robot identifier: the hardware identifier stands in
        *) if [ $((i % 2)) = 0 ]; then store=eeprom; else store=files; fi
           body="\"store\": \"$store\", \"uuid\": \"$(hex 8d4e2f6a1b3c45d7e9f0a1b2 "$i")\"" ;;
    esac
    [ "$i" = 4 ] || body="$body, \"hw_uuid\": \"$(hex 3f2a9c1e7b4d40e8a1c5d6f7 "$i")\", \"robot_status\": \"$status\""
    echo "$status" >> "$work/statuses"
    mkdir "$work/$name"
    printf '{%s}\n' "$body" > "$work/$name.json"
    "$sim" "$work/$name.json" -- "$hwinfo" --prometheus "$work/$name/korvanta.prom" 2> "$work/$name.log" ||
        { cat "$work/$name.log" >&2; fail "korvanta-hwinfo failed on $name"; }
done
touch -d "@$(($(date +%s) - 3600))" "$work/unit-05/korvanta.prom"

# --- One node exporter per unit, all started before the first is waited for,
# and the server scraping them all.
units=$(cd "$work" && ls -d unit-*/ | tr -d /)
for name in $units; do
    timeout 300 prometheus-node-exporter --web.listen-address=127.0.0.1:0 --collector.disable-defaults \
        --collector.textfile --collector.textfile.directory="$work/$name" 2> "$work/$name.exporter.log" &
    servers="$servers $!"
    echo $! > "$work/$name.pid"
done
scrape_configs=
for name in $units; do
    port=$(listening_port "$work/$name.exporter.log" "$(cat "$work/$name.pid")") ||
        { cat "$work/$name.exporter.log" >&2; fail "node_exporter of $name did not start on loopback"; }
    scrape_configs="$scrape_configs
      - {targets: ['127.0.0.1:$port'], labels: {unit: $name}}"
done
cat > "$work/prometheus.yml" <<EOF
global: {scrape_interval: 1s, scrape_timeout: 1s, evaluation_interval: 1s}
rule_files: ['$rules']
scrape_configs:
  - job_name: node
    static_configs:$scrape_configs
EOF
timeout 300 prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
    --web.listen-address=127.0.0.1:0 2> "$work/prometheus.log" &
servers="$servers $!"
server=$(listening_port "$work/prometheus.log" "$!") ||
    { cat "$work/prometheus.log" >&2; fail "prometheus did not start on loopback"; }

# query PROMQL: one sorted line per sample, its label values and its value.
query() {
    curl -sf --max-time 5 "http://127.0.0.1:$server/api/v1/query" --data-urlencode "query=$1" |
        /usr/bin/python3 -c 'import json, sys
for sample in json.load(sys.stdin)["data"]["result"]:
    print(*sample["metric"].values(), sample["value"][1])' | sort
}
# Every alert, pending or firing: "ALERTNAME unit", with " pending" after a pending one.
alerts() {
    curl -sf --max-time 5 "http://127.0.0.1:$server/api/v1/alerts" | /usr/bin/python3 -c 'import json, sys
for alert in json.load(sys.stdin)["data"]["alerts"]:
    print(alert["labels"]["alertname"], alert["labels"]["unit"], *[alert["state"]] * (alert["state"] != "firing"))' |
        sort
}
sort -o "$work/expected.alerts" "$work/expected.alerts"

# Every unit scraped and the rules evaluated on it, then the same alerts twice
# in a row, so that none is on its way.
for _ in $(seq 300); do
    [ "$(query 'count(up == 1)' 2>/dev/null)" = "$size" ] && break
    sleep 0.1
done
[ "$(query 'count(up == 1)')" = "$size" ] || fail "not every node exporter is scraped: $(query 'up == 0')"
for _ in $(seq 100); do
    alerts > "$work/firing" && cmp -s "$work/firing" "$work/expected.alerts" && break
    sleep 0.2
done
sleep 2
alerts > "$work/firing"
cmp -s "$work/firing" "$work/expected.alerts" ||
    fail "the alerts are not those of the faulty units:
$(diff "$work/expected.alerts" "$work/firing")"

sort "$work/statuses" | uniq -c | awk '{ print $2, $1 }' > "$work/expected.statuses"
query 'count by (robot_status) (korvanta_hardware_info)' > "$work/statuses.counted"
cmp -s "$work/statuses.counted" "$work/expected.statuses" ||
    fail "count by (robot_status) does not add up:
$(diff "$work/expected.statuses" "$work/statuses.counted")"

# --- The server's figures for this fleet.
curl -sf --max-time 5 "http://127.0.0.1:$server/metrics" > "$work/server.metrics"
figure() { sed -n "s/^$1 //p" "$work/server.metrics"; }
milliseconds() { query "1000 * $1" | awk '{ printf "%.2f", $1 }'; }
echo "alerts: $size units, each fault's alert for its units alone," \
    "$(awk -v from="$started" -v to="$(date +%s.%N)" 'BEGIN { printf "%.1f", to - from }') s"
echo "alerts: prometheus RSS $(figure process_resident_memory_bytes | awk '{ printf "%.1f", $1 / 1048576 }') MiB," \
    "$(figure prometheus_tsdb_head_series) head series; scrape ms:" \
    "median $(milliseconds 'quantile(0.5, scrape_duration_seconds)')," \
    "max $(milliseconds 'max(scrape_duration_seconds)'), sum $(milliseconds 'sum(scrape_duration_seconds)')"
