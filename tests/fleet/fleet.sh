# Sourced by the fleet checks once they have set check to their name.
fail() { echo "$check: FAIL: $*" >&2; exit 1; }
# Skipped, never passed, on a developer's host without the tools; a failure in CI.
unavailable() {
    [ -n "${CI:-}" ] && fail "$*"
    echo "$check: SKIPPED: $*" >&2
    exit 77
}
# A server of Prometheus' own (the server, the node exporter) started on
# 127.0.0.1:0 gets a free port from the kernel and logs it.
# listening_port LOG PID: prints the port once LOG names it, or fails when PID
# has exited or 10 s have passed first.
listening_port() {
    port=
    for _ in $(seq 100); do
        port=$(sed -n 's/.*msg="Listening on" address=127\.0\.0\.1:\([0-9]*\).*/\1/p' "$1")
        [ -z "$port" ] && kill -0 "$2" 2>/dev/null && sleep 0.1 || break
    done
    [ -n "$port" ] && echo "$port"
}
