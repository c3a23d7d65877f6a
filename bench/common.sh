# Sourced by the service benchmarks: a throw-away work folder, the processes to stop on exit, and
# free loopback ports.
work=$(mktemp -d)
chmod 755 "$work"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 30000))
        ss -Hltn "sport = :$port" | grep -q . || { echo "$port"; return; }
    done
}
