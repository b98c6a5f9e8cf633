#!/usr/bin/env bash
# CPU of the vprinter daemon per receipt as a shop uses it: N 40-line receipts (default 160), each
# in its own connection that sends and closes without reading, with --render writing the paper
# after every connection. Prints the daemon's CPU (user + system, from /proc) per receipt for the
# first and the last quarter of the receipts, and its resident memory at the end.
#   bench/vprinter_receipts.sh [BUILD_DIR] [N]
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build/release}"
count="${2:-160}"
daemon="$build/vprinter/vprinter"
[ -x "$daemon" ] || { echo "vprinter_receipts: no $daemon (build it first)" >&2; exit 2; }
command -v python3 >/dev/null || { echo "vprinter_receipts: python3 is needed" >&2; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/vprinter-receipts.XXXXXX")"
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$daemon" --listen 127.0.0.1:0 --render "$work/paper.png" --capture "$work/capture.bin" >"$work/daemon.out" 2>&1 &
pid=$!
for _ in $(seq 100); do
  grep -q 'listening on' "$work/daemon.out" && break
  sleep 0.05
done
port="$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$work/daemon.out")"
[ -n "$port" ] || { echo "vprinter_receipts: the daemon did not start" >&2; exit 1; }

python3 - "$port" "$count" "$pid" "$work/capture.bin" <<'PY'
import os, socket, sys, time

port, count, pid, capture = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
tick = os.sysconf("SC_CLK_TCK")

def cpu_s():
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / tick  # utime + stime

def rss_mib():
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0

def receipt(n):
    r = b"\x1b@\x1ba\x01\x1d!\x11KORVANE CAFE\n\x1d!\x00Via Roma 12, Milano\n\x1ba\x00"
    for i in range(2, 36):
        r += b"%-28s%3d x %6.2f %6.2f\n" % (b"Espresso doppio" if i % 3 else b"Croissant", i % 4 + 1,
                                           1.9 + i % 7, (i % 4 + 1) * (1.9 + i % 7))
    r += b"\x1bE\x01TOTAL                                   123.45\n\x1bE\x00Paid by card\n"
    r += b"Receipt %06d\n\x1dV\x41\x10" % n
    return r

def wait_for(total):
    # The daemon has served a connection once its bytes are in the capture file and the next
    # connection is taken; the last one is waited for by size.
    deadline = time.monotonic() + 600
    while os.path.getsize(capture) < total and time.monotonic() < deadline:
        time.sleep(0.01)

quarter = max(count // 4, 1)
sent = 0
marks = []
for n in range(count):
    if n in (0, quarter, count - quarter):
        wait_for(sent)
        marks.append(cpu_s())
    data = receipt(n)
    with socket.create_connection(("127.0.0.1", port)) as s:
        s.sendall(data)
    sent += len(data)
wait_for(sent)
# One more connection that waits for an answer: the render of the last receipt is then done.
with socket.create_connection(("127.0.0.1", port)) as s:
    s.sendall(b"\x1dI\x01")
    s.settimeout(60)
    s.recv(1)
end = cpu_s()
first = (marks[1] - marks[0]) / quarter * 1000
last = (end - marks[2]) / quarter * 1000
print(f"{count} receipts of 40 lines, rendered after each: daemon CPU per receipt "
      f"{first:.2f} ms (receipts 1-{quarter}), {last:.2f} ms (receipts {count - quarter + 1}-{count}); "
      f"resident memory {rss_mib():.1f} MiB")
PY
