#!/usr/bin/env bash
# Smoke test of the real program: starts terminal-console under Xvfb inside a network
# namespace of its own (so its start-up search never reaches a real network), optionally with
# the terminal simulator, photographs the main window and ends the program by its PID.
#
#   XvfbSmoke.sh <terminal-console> <tc_xshot> <artifacts dir> [<sicct-terminal-sim> <scenario.json> [add]]
#
# With a simulator the terminals answer the start-up search from a second namespace over a
# veth pair. With "add" the simulator runs on the program's own loopback instead (its
# responder on a free UDP port, given to the program with --discovery-port) and the test types
# 127.0.0.1 into the address field and presses "Hinzufügen", as a user does with ./run; the
# added row must show the simulated terminal's MAC address.
#
# Exit 77 (skipped) when not root or namespaces cannot be made.
set -u
prog=$1 shot=$2 outdir=$3 sim=${4:-} scenario=${5:-} mode=${6:-}

if [ "$(id -u)" -ne 0 ]; then echo "SKIP: needs root for network namespaces"; exit 77; fi
command -v xvfb-run >/dev/null || { echo "SKIP: xvfb-run missing"; exit 77; }
command -v xwininfo >/dev/null || { echo "SKIP: xwininfo missing"; exit 77; }
if [ "$mode" = add ]; then command -v xdotool >/dev/null || { echo "SKIP: xdotool missing"; exit 77; }; fi

tag=tcsmoke$$
nsGui=${tag}g nsSim=${tag}s
work=$(mktemp -d /tmp/${tag}.XXXX)
simPid=""
cleanup() {
  [ -n "$simPid" ] && kill "$simPid" 2>/dev/null && wait "$simPid" 2>/dev/null
  ip netns del "$nsGui" 2>/dev/null
  ip netns del "$nsSim" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$nsGui" || { echo "SKIP: ip netns add failed"; exit 77; }
ip -n "$nsGui" link set lo up

progArgs=""
if [ -n "$sim" ] && [ "$mode" = add ]; then
  ip netns exec "$nsGui" "$sim" --scenario "$scenario" --bind 127.0.0.1 --discovery-port 0 \
     --port-file "$work/ports" > "$work/sim.log" 2>&1 &
  simPid=$!
  for _ in $(seq 50); do [ -s "$work/ports" ] && grep -q '^discovery on ' "$work/sim.log" && break; sleep 0.1; done
  discoveryPort=$(sed -n 's/^discovery on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/sim.log")
  [ -n "$discoveryPort" ] || { echo "FAIL: simulator did not start"; cat "$work/sim.log"; exit 1; }
  progArgs="--discovery-port $discoveryPort"
elif [ -n "$sim" ]; then
  ip netns add "$nsSim" || { echo "SKIP: ip netns add failed"; exit 77; }
  ip -n "$nsSim" link set lo up
  # A veth pair between the two: the program sees one Ethernet adapter, the simulator the other.
  ip link add vg$$ netns "$nsGui" type veth peer name vs$$ netns "$nsSim"
  ip -n "$nsGui" addr add 10.78.0.1/24 brd + dev vg$$
  ip -n "$nsSim" addr add 10.78.0.2/24 brd + dev vs$$
  ip -n "$nsGui" link set vg$$ up
  ip -n "$nsSim" link set vs$$ up
  sed 's/"127\.0\.0\.1"/"10.78.0.2"/g' "$scenario" > "$work/scenario.json"
  ip netns exec "$nsSim" "$sim" --scenario "$work/scenario.json" --bind 10.78.0.2 --allow-nonloopback \
     --port-file "$work/ports" > "$work/sim.log" 2>&1 &
  simPid=$!
  for _ in $(seq 50); do [ -s "$work/ports" ] && break; sleep 0.1; done
  [ -s "$work/ports" ] || { echo "FAIL: simulator did not start"; cat "$work/sim.log"; exit 1; }
fi

mkdir -p "$work/xdg" "$work/config" && chmod 700 "$work/xdg"
# Settings of our own: the common application data folder lies in the work folder, with a
# middleware configuration that gives the first terminal port 1 and a mapping file that
# names the simulator's address (its responder is bound to that address, so it answers the
# unicast request; the directed broadcast goes out on the veth as well).
mkdir -p "$work/settings/machine" "$work/settings/user" "$work/appdata/Vantor/CtApi"
cat > "$work/settings/machine/system.reg" <<EOR
REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders]
"Common AppData"="$work/appdata"
EOR
cat > "$work/appdata/Vantor/CtApi/ctvnt.xml" <<EOX
<?xml version="1.0" encoding="UTF-8"?>
<root>
  <DebugToFileOutput>$work/trace.log</DebugToFileOutput>
  <Terminals>
    <Terminal><Port>1</Port><Name>Empfang</Name><LogicalName>10.78.0.2:4743:48</LogicalName><ConnectionType>LAN</ConnectionType></Terminal>
  </Terminals>
</root>
EOX
cat > "$work/appdata/Vantor/CtApi/ClientTerminalMapping.xml" <<EOX
<?xml version="1.0" encoding="UTF-8"?>
<TerminalMaps>
  <TerminalMap ThinClientMAC="" ThinClientName="smoke" ThinClientIP="10.78.0.1" TerminalMAC="02:4E:7A:10:00:01" TerminalIP="10.78.0.2"/>
</TerminalMaps>
EOX
if [ "$mode" = add ]; then
  # Types 127.0.0.1 into "Terminal IP Adresse" (Alt+T) and presses "Hinzufügen" (Alt+H).
  cat > "$work/add.sh" <<'EOA'
#!/usr/bin/env bash
# $1: the program's trace file. The window ignores the button while its start-up search
# runs, so the add is tried again (at most three times) until the trace shows the answer.
wid=$(xdotool search --name '^Terminal Console$' | head -n 1)
[ -n "$wid" ] || { echo "add: no window"; exit 1; }
for _ in 1 2 3; do
  xdotool windowfocus --sync "$wid"
  xdotool key --clearmodifiers alt+t ctrl+a
  xdotool type --delay 30 127.0.0.1
  xdotool key --clearmodifiers alt+h
  # The query waits up to 3 s for the answer.
  for _ in $(seq 50); do grep -aq 'terminal added by address' "$1" 2>/dev/null && exit 0; sleep 0.1; done
done
exit 1
EOA
  chmod +x "$work/add.sh"
fi
cat > "$work/run.sh" <<EOS
#!/usr/bin/env bash
export XDG_RUNTIME_DIR=$work/xdg XDG_CONFIG_HOME=$work/config TC_SETTINGS_ROOT=$work/settings QT_QPA_PLATFORM=xcb
"$prog" $progArgs > "$work/app.log" 2>&1 &
pid=\$!
geom=""
for _ in \$(seq 100); do
  geom=\$(xwininfo -name "Terminal Console" 2>/dev/null) && break
  sleep 0.1
done
# Let the start-up search end (3 s after the last discovery answer) and the list fill.
sleep 5
[ -x "$work/add.sh" ] && "$work/add.sh" "$work/trace.log"
x=\$(echo "\$geom" | awk '/Absolute upper-left X/ {print \$4}')
y=\$(echo "\$geom" | awk '/Absolute upper-left Y/ {print \$4}')
w=\$(echo "\$geom" | awk '/Width:/ {print \$2}')
h=\$(echo "\$geom" | awk '/Height:/ {print \$2}')
rc=1
if [ -n "\$w" ] && kill -0 \$pid 2>/dev/null; then
  "$shot" "$work/shot.png" "\$x" "\$y" "\$w" "\$h" && rc=0
fi
kill \$pid 2>/dev/null
wait \$pid 2>/dev/null
exit \$rc
EOS
chmod +x "$work/run.sh"
timeout 60 ip netns exec "$nsGui" xvfb-run -a -s "-screen 0 1280x1024x24" "$work/run.sh"
rc=$?
if [ $rc -ne 0 ] || [ ! -s "$work/shot.png" ]; then
  echo "FAIL: no screenshot (rc $rc)"; cat "$work/app.log" 2>/dev/null; exit 1
fi
if [ "$mode" = add ] && ! grep -aq 'terminal added by address: 127\.0\.0\.1, MAC 02:4E:7A:10:00:01' "$work/trace.log"; then
  echo "FAIL: the simulated terminal was not added by its address"; grep -a 'Search' "$work/trace.log" | tail -n 20
  mkdir -p "$outdir"; cp "$work/shot.png" "$outdir/terminal-console-main-added-failed.png"
  cp "$work/trace.log" "$outdir/terminal-console-main-added-failed-trace.log" 2>/dev/null; exit 1
fi
mkdir -p "$outdir"
name=terminal-console-main.png
[ -n "$sim" ] && name=terminal-console-main-sim.png
[ "$mode" = add ] && name=terminal-console-main-added.png
cp "$work/shot.png" "$outdir/$name"
cp "$work/app.log" "$outdir/${name%.png}.log" 2>/dev/null
cp "$work/trace.log" "$outdir/${name%.png}-trace.log" 2>/dev/null
[ -n "$sim" ] && cp "$work/sim.log" "$outdir/${name%.png}-simulator.log" 2>/dev/null
echo "screenshot: $outdir/$name"
exit 0
