# Sourced by the fleet checks. A server of Prometheus' own (the server, the
# node exporter) started on 127.0.0.1:0 gets a free port from the kernel and
# logs it; this reads it back.
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
