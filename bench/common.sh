# Sourced by the benchmarks that start servers: a throw-away work folder, the processes to stop on exit, and
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

# Below the kernel's ephemeral range (32768 up), so that no outgoing connection of a load running
# at the same time takes the port before the server binds it; no socket in any state may hold it.
free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 12000))
        ss -Htan "sport = :$port" | grep -q . || { echo "$port"; return; }
    done
}
