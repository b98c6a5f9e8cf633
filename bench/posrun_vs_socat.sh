#!/usr/bin/env bash
# Whole-process cost of the driver for one tiny job: posrun running Open, Claim, DeviceEnabled,
# PrintNormal "x", Release and Close against the vprinter daemon on loopback, against socat
# writing the same bytes to the same daemon. The two are run alternately; min and median of each
# are printed in milliseconds, with their ratio.
#   bench/posrun_vs_socat.sh [BUILD_DIR] [RUNS]     (default build/release, 30 runs)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build/release}"
runs="${2:-30}"
for tool in socat python3; do
  command -v "$tool" >/dev/null || { echo "posrun_vs_socat: $tool is needed" >&2; exit 2; }
done
[ -x "$build/tools/posrun/posrun" ] || { echo "posrun_vs_socat: no posrun in $build (build it first)" >&2; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/posrun-bench.XXXXXX")"
daemon_pid=""
cleanup() {
  [ -n "$daemon_pid" ] && kill "$daemon_pid" 2>/dev/null && wait "$daemon_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$build/vprinter/vprinter" --listen 127.0.0.1:0 --capture "$work/capture.bin" >"$work/daemon.out" 2>&1 &
daemon_pid=$!
for _ in $(seq 100); do
  grep -q 'listening on' "$work/daemon.out" && break
  sleep 0.05
done
port="$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$work/daemon.out")"
[ -n "$port" ] || { echo "posrun_vs_socat: the daemon did not start" >&2; cat "$work/daemon.out" >&2; exit 1; }

export OPOS_REGISTRY_DIR="$work/registry"
oposreg="$build/tools/oposreg/oposreg"
"$oposreg" import "$here/examples/registry/poskit.reg"
device='HKLM\SOFTWARE\OLEforRetail\ServiceOPOS\POSPrinter\VX40Device'
"$oposreg" set "$device" IniSet REG_SZ "$here/examples/metrics/VX40.INI"
cp "$here/examples/metrics/VX40LOGO.DAT" "$work/VX40LOGO.DAT"
"$oposreg" set "$device" DATFile REG_SZ "$work/VX40LOGO.DAT"
"$oposreg" set 'HKLM\SOFTWARE\Quorel\Ports\VPRINTER' Transport REG_SZ "socket://127.0.0.1:$port"
for lib in monitor/libQuorelMonitor.so devsvc/libDevsvc.so controls/ptrctl/libPtrctl.so; do
  "$build/tools/regsvr/regsvr" "$build/$lib" >/dev/null
done

cat >"$work/job.posrun" <<'EOF'
Open "VX40Device"
Claim 1000
DeviceEnabled = 1
PrintNormal 2 "x"
Release
Close
EOF

# The bytes of one job, as the daemon received them, for socat to send.
"$build/tools/posrun/posrun" "$work/job.posrun" >/dev/null
sleep 0.2
cp "$work/capture.bin" "$work/job.bin"
[ -s "$work/job.bin" ] || { echo "posrun_vs_socat: posrun sent nothing" >&2; exit 1; }

now_ns() { date +%s%N; }
posrun_ms=()
socat_ms=()
for _ in $(seq "$runs"); do
  t0=$(now_ns)
  "$build/tools/posrun/posrun" "$work/job.posrun" >/dev/null
  t1=$(now_ns)
  socat -u "FILE:$work/job.bin" "TCP:127.0.0.1:$port"
  t2=$(now_ns)
  posrun_ms+=("$(( (t1 - t0) / 1000 ))")
  socat_ms+=("$(( (t2 - t1) / 1000 ))")
done

python3 - "${#posrun_ms[@]}" "${posrun_ms[@]}" "${socat_ms[@]}" "$(stat -c %s "$work/job.bin")" <<'EOF'
import statistics, sys
n = int(sys.argv[1])
values = [int(v) / 1000 for v in sys.argv[2:2 + 2 * n]]
posrun, socat = values[:n], values[n:]
size = sys.argv[2 + 2 * n]
print(f"job: {size} bytes, {n} runs each, alternating")
for name, v in (("posrun", posrun), ("socat", socat)):
    print(f"{name:7} min {min(v):8.2f} ms   median {statistics.median(v):8.2f} ms")
print(f"ratio   min {min(posrun) / min(socat):8.2f}      median {statistics.median(posrun) / statistics.median(socat):8.2f}")
EOF
