#!/usr/bin/env bash
# The main job, end to end, without hardware: a simulated terminal answers on 127.0.0.1.
#
# With a display ($DISPLAY set) the main window opens, its discovery requests going to the
# simulator's responder; add the simulated terminal by typing 127.0.0.1 into "Terminal IP
# Adresse" and pressing "Hinzufügen". Closing the window ends the demo and the simulator.
# Note that the window searches every Ethernet adapter at start, as it does in the practice.
#
# Without a display (or with TC_DEMO=cli) terminalctl adds the terminal by address, runs a
# diagnosis with the export file, shows its certificate validity and downloads a firmware
# file into it; nothing leaves loopback.
#
# Environment: BUILD_DIR (default build/), DEMO_DIR (where the export and the demo firmware
# go; default $BUILD_DIR/demo). The demo uses its own settings folder (TC_SETTINGS_ROOT) so
# that a "Port" set for the GUI cannot redirect it; an explicitly set TC_SETTINGS_ROOT is kept.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD_DIR:-$top/build}"
demo="${DEMO_DIR:-$build/demo}"
sim="$build/sim/sicct-terminal-sim"
ctl="$build/cli/terminalctl"
scenario="$top/sim/scenarios/demo.json"

for exe in "$sim" "$ctl"; do
  [[ -x "$exe" ]] || { echo "demo: $exe is missing; build first (scripts/build.sh)" >&2; exit 1; }
done
mkdir -p "$demo"
rm -f "$demo/ports" "$demo/sim.log"
export TC_SETTINGS_ROOT="${TC_SETTINGS_ROOT:-$demo/settings}"

sim_pid=""
stop_sim() {
  # Only the simulator this script started, by its PID.
  if [[ -n "$sim_pid" ]] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
  fi
  sim_pid=""
}
trap stop_sim EXIT
trap 'exit 130' INT TERM   # the EXIT trap then stops the simulator

step() { printf '\n=== %s ===\n$ %s\n' "$1" "${*:2}"; }

# 1. The terminals of the demo scenario on 127.0.0.1 (ephemeral TCP ports; the discovery
#    responder on a free UDP port, so that nothing else on this machine is disturbed).
echo "Starting the terminal simulator (scenario $(basename "$scenario"))"
"$sim" --scenario "$scenario" --bind 127.0.0.1 --discovery-port 0 --port-file "$demo/ports" >"$demo/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 1 100); do
  [[ -s "$demo/ports" ]] && grep -q '^discovery on ' "$demo/sim.log" && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$demo/sim.log" >&2; echo "demo: the simulator did not start" >&2; exit 1; }
  sleep 0.1
done
cat "$demo/sim.log"
discovery_port=$(sed -n 's/^discovery on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$demo/sim.log")
read -r term_name _ term_port _ < "$demo/ports"
[[ -n "$discovery_port" && -n "$term_port" ]] || { echo "demo: no ports from the simulator" >&2; exit 1; }
ctl_args=(--discovery-port "$discovery_port")

if [[ -n "${DISPLAY:-}" && "${TC_DEMO:-}" != cli ]]; then
  gui="$build/app/ui/terminal-console"
  [[ -x "$gui" ]] || { echo "demo: $gui is missing (built without the GUI?); TC_DEMO=cli runs the command line demo" >&2; exit 1; }
  cat <<EOT

Simulated terminal: $term_name on 127.0.0.1:$term_port (discovery on 127.0.0.1:$discovery_port)
Opening Terminal Console. To add the simulated terminal, type 127.0.0.1 into
"Terminal IP Adresse" and press "Hinzufügen" (Alt+H); then choose an action, e.g.
"Diagnose". Close the window to end the demo.
EOT
  rc=0
  "$gui" --discovery-port "$discovery_port" || rc=$?
  stop_sim
  exit "$rc"
fi

# 2. "Hinzufügen": unicast discovery of 127.0.0.1, as a table and as JSON.
step "Terminal by address" terminalctl query 127.0.0.1
"$ctl" "${ctl_args[@]}" query 127.0.0.1
"$ctl" "${ctl_args[@]}" query 127.0.0.1 --json

# 3. Diagnosis with the export file; port, protocol and SICCT version come from the answer.
export_file="$demo/diagnose_logfile.xml"
step "Diagnosis" terminalctl diagnose 127.0.0.1 --export "$export_file"
"$ctl" "${ctl_args[@]}" diagnose 127.0.0.1 --export "$export_file"

# 4. Certificate validity of the terminal's TLS certificate (the simulator serves it on its
#    SICCT port; a real terminal on its web-interface port, the setting "Port" or 443).
step "Certificate validity" terminalctl certvalid 127.0.0.1 --port "$term_port"
"$ctl" certvalid 127.0.0.1 --port "$term_port"

# 5. Firmware download of a generated demo file (the simulator checks nothing but the
#    packets); the demo terminal's administrator password comes from standard input.
firmware="$demo/demo-firmware.bin"
head -c 10000 /dev/urandom > "$firmware"
step "Firmware download" terminalctl firmware 127.0.0.1 "$firmware" --password-stdin
printf '12345678\n' | "$ctl" "${ctl_args[@]}" firmware 127.0.0.1 "$firmware" --password-stdin

stop_sim
printf '\nDemo terminal: %s on 127.0.0.1:%s\n' "$term_name" "$term_port"
printf 'Diagnosis export written to: %s\n' "$export_file"
