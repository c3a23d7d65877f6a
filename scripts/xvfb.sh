# Sourced by scripts that need a private X server: start_xvfb [SCREEN] starts Xvfb on a display it
# picks itself (no race with another script looking for a free number), waits until it answers,
# exports DISPLAY and sets XVFB_PID for the caller to stop.
start_xvfb() {
  local screen=${1:-1280x800x24} fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  XVFB_PID=$!
  local number
  read -r number <"$fifo"
  rm -f "$fifo"
  export DISPLAY=":$number"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "Xvfb did not start" >&2
  return 1
}
