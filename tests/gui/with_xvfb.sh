#!/usr/bin/env bash
# Usage: with_xvfb.sh COMMAND [ARGS...]
# Runs COMMAND against a private Xvfb (1400x800x24) and returns its exit code.
# A display of our own keeps GUI tests independent of the developer's desktop
# and lets several test runs share a machine.
set -euo pipefail

if [ "$#" -eq 0 ]; then
  echo "usage: $0 COMMAND [ARGS...]" >&2
  exit 2
fi
if ! command -v Xvfb >/dev/null 2>&1; then
  echo "with_xvfb.sh: Xvfb is not installed (run scripts/install-deps.sh)" >&2
  exit 2
fi

xvfb_pid=""
watchdog_pid=""
xvfb_log="$(mktemp)"

# shellcheck disable=SC2317  # called from the EXIT trap
cleanup() {
  if [ -n "$watchdog_pid" ]; then
    kill "$watchdog_pid" 2>/dev/null || true
    wait "$watchdog_pid" 2>/dev/null || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -f "$xvfb_log"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

display_ready() {
  if command -v xdpyinfo >/dev/null 2>&1; then
    xdpyinfo -display ":$1" >/dev/null 2>&1
  else
    [ -S "/tmp/.X11-unix/X$1" ]
  fi
}

# The lock file names the server that owns the display; checking it guards
# against talking to another run's server after losing a start-up race.
owns_display() {
  [ -r "/tmp/.X$1-lock" ] && [ "$(tr -d ' \n' < "/tmp/.X$1-lock")" = "$xvfb_pid" ]
}

display=""
for n in $(seq 91 120); do
  if [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; then
    continue
  fi
  # No key repeat: on a busy machine the release of a synthetic key can lag
  # past the repeat delay, and the server would then type the key again
  # into whatever window comes up next (a Return answering a dialog).
  Xvfb ":$n" -nolisten tcp -ardelay 60000 -screen 0 1400x800x24 >"$xvfb_log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 150); do
    kill -0 "$xvfb_pid" 2>/dev/null || break
    if display_ready "$n" && owns_display "$n"; then
      display="$n"
      break
    fi
    sleep 0.1
  done
  [ -n "$display" ] && break
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
done

if [ -z "$display" ]; then
  echo "with_xvfb.sh: could not start Xvfb on any display :91..:120" >&2
  cat "$xvfb_log" >&2 || true
  exit 1
fi

# If this script is killed outright (ctest timeout), do not leave the server behind.
script_pid=$$
( while kill -0 "$script_pid" 2>/dev/null; do sleep 1; done
  kill "$xvfb_pid" 2>/dev/null || true ) >/dev/null 2>&1 &
watchdog_pid=$!

export DISPLAY=":$display"
unset WAYLAND_DISPLAY
# Xvfb only offers Mesa's software rasteriser; say so to skip driver probing.
export LIBGL_ALWAYS_SOFTWARE=1

echo "with_xvfb.sh: running on DISPLAY=$DISPLAY" >&2
set +e
"$@"
status=$?
set -e
exit "$status"
