#!/usr/bin/env bash
# Memory of the vprinter daemon under hostile traffic: sends GIB gibibytes (default 1) over
# loopback in 16 connections that never read their answers (long feeds, image headers that
# claim gigabytes, status-request floods, random bytes, and a raster header that promises 4 GiB
# at the end of each connection), sampling the daemon's resident memory all along. (Printable
# text is left out: it costs the time of printing it, not memory.)
# Prints the traffic sent, the time taken, the peak resident memory (VmHWM) and the last sample.
#   bench/vprinter_hostile.sh [BUILD_DIR] [GIB]
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build/release}"
gib="${2:-1}"
daemon="$build/vprinter/vprinter"
[ -x "$daemon" ] || { echo "vprinter_hostile: no $daemon (build it first)" >&2; exit 2; }
command -v python3 >/dev/null || { echo "vprinter_hostile: python3 is needed" >&2; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/vprinter-hostile.XXXXXX")"
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$daemon" --listen 127.0.0.1:0 --idle-ms 2000 >"$work/daemon.out" 2>&1 &
pid=$!
for _ in $(seq 100); do
  grep -q 'listening on' "$work/daemon.out" && break
  sleep 0.05
done
port="$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$work/daemon.out")"
[ -n "$port" ] || { echo "vprinter_hostile: the daemon did not start" >&2; exit 1; }

python3 - "$port" "$gib" "$pid" <<'EOF'
import os, random, socket, sys, threading, time

port, gib, pid = int(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3])
total = int(gib * (1 << 30))
connections = 16
block = 1 << 20

rng = random.Random(20261210)
patterns = {
    "feeds": b"\x1bJ\xff" * (block // 3),
    "image headers": b"\x1d(L\x0a\x000p0\x01\x011\xff\xff\xff\xff" * (block // 15),
    "status floods": b"\x10\x04\x01" * (block // 3),
    "random bytes": bytes(rng.getrandbits(8) for _ in range(block)),
}
order = list(patterns.values())

def rss_kb(field):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field):
                return int(line.split()[1])
    return 0

samples = []
done = threading.Event()
def sample():
    while not done.is_set():
        samples.append(rss_kb("VmRSS:"))
        time.sleep(0.2)
threading.Thread(target=sample, daemon=True).start()

sent = 0
started = time.monotonic()
per_connection = total // connections
for c in range(connections):
    with socket.create_connection(("127.0.0.1", port)) as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)  # it never reads its answers
        n = 0
        i = c
        while n < per_connection:
            data = order[i % len(order)]
            s.sendall(data)
            n += len(data)
            i += 1
        s.sendall(b"\x1dv0\x00\xff\xff\xff\xff")  # a raster that promises 4 GiB, then goes away
        sent += n + 8
elapsed = time.monotonic() - started
# The daemon takes the next client once it has worked off the last one's bytes.
with socket.create_connection(("127.0.0.1", port)) as s:
    s.sendall(b"\x1b=\x01\x10\x05\x02\x1b@\x1dI\x01")  # select, recover, initialise, identify
    s.settimeout(600)
    answer = s.recv(1)
done.set()
print(f"sent {sent / (1 << 30):.2f} GiB in {connections} connections in {elapsed:.1f} s; "
      f"identity answered afterwards: {answer.hex() or 'none'}")
print(f"daemon resident memory: peak {rss_kb('VmHWM:') / 1024:.1f} MiB, "
      f"last sample {samples[-1] / 1024 if samples else 0:.1f} MiB, {len(samples)} samples")
EOF
