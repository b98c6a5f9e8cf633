#!/usr/bin/env bash
# Sets up, builds, tests and demonstrates the kit on a Debian machine.
#   ./kit.sh demo    install what is missing, build, run the kit's main job on the virtual printer
#   ./kit.sh test    install what is missing, build and run the tests (normal and sanitizer builds)
#   ./kit.sh deps    only install the missing packages
#   ./kit.sh build [PRESET]   configure and build one preset (debug, release, sanitize)
# The tests run in the optimised build (which also shows the warnings only optimisation finds) and
# in the sanitizer build.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$here"

# Debian packages the build, the tests and the demo need.
packages=(cmake ninja-build g++ pkg-config ccache libgtest-dev libgmock-dev libbenchmark-dev socat
          libgrpc++-dev protobuf-compiler-grpc libprotobuf-dev protobuf-compiler openssl
          qt6-base-dev fonts-dejavu-core libpng-dev zlib1g-dev console-setup-linux iproute2 help2man libjpeg62-turbo-dev
          libzint-dev libzxing-dev zbar-tools)

say() { printf '==> %s\n' "$*"; }

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if ((${#missing[@]} == 0)); then
    return
  fi
  say "installing ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {
  local preset="$1"
  local launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    # Paths relative to the checkout, so that a fresh clone elsewhere reuses the cache.
    export CCACHE_BASEDIR="$here" CCACHE_NOHASHDIR=1
  fi
  say "configuring and building ($preset)"
  cmake --preset "$preset" "${launcher[@]}" >/dev/null
  cmake --build --preset "$preset"
}

# Runs the sanitize test `$1` again while it fails with LeakSanitizer's tracer crash, pausing
# 10, 20, 30 and 40 s before the attempts; true once it passes.
rerun_after_tracer_crash() {
  local name="$1" attempt log
  log="$here/build/sanitize/Testing/Temporary/LastTest.log"
  for attempt in 1 2 3 4; do
    say "$name: LeakSanitizer's tracer crashed after the test; running it again in $((attempt * 10)) s"
    sleep $((attempt * 10))
    ctest --preset sanitize -R "^${name}\$" && return 0
    grep -q "Tracer caught signal" "$log" || { say "$name failed"; return 1; }
  done
  return 1
}

run_tests() {
  local preset="$1"
  say "testing ($preset)"
  [ "$preset" = sanitize ] || { ctest --preset "$preset"; return; }
  ctest --preset sanitize && return 0
  # LeakSanitizer's exit-time tracer now and then crashes itself ("Tracer caught signal 11") after
  # a test has passed, and has done so for the same test for minutes on end. Only a test whose
  # failure shows that message runs again, up to four times, each after a pause that grows; any
  # other failure, and a rerun that fails otherwise, fails the run.
  local results="$here/build/sanitize/Testing/Temporary"
  local first_run
  first_run="$(mktemp "${TMPDIR:-/tmp}/poskit-sanitize.XXXXXX")"
  cp "$results/LastTest.log" "$first_run"
  local failed=() name
  mapfile -t failed < <(sed 's/^[0-9]*://' "$results/LastTestsFailed.log")
  for name in "${failed[@]}"; do
    if ! awk -v t="$name" '/^[0-9]+\/[0-9]+ Test: / { on = ($3 == t) } on && /Tracer caught signal/ { hit = 1 }
                          END { exit !hit }' "$first_run"; then
      say "$name failed"
      rm -f "$first_run"
      return 1
    fi
    if ! rerun_after_tracer_crash "$name"; then
      rm -f "$first_run"
      return 1
    fi
  done
  rm -f "$first_run"
}

demo() {
  build release
  local bin="$here/build/release"
  local out
  out="$(mktemp -d "${TMPDIR:-/tmp}/poskit-demo.XXXXXX")"
  export OPOS_REGISTRY_DIR="$out/registry"
  local oposreg="$bin/tools/oposreg/oposreg"
  local posrun="$bin/tools/posrun/posrun"
  local device='HKLM\SOFTWARE\OLEforRetail\ServiceOPOS\POSPrinter\VX40Device'
  local display='HKLM\SOFTWARE\OLEforRetail\ServiceOPOS\LineDisplay\VX40LineControl'
  local port='HKLM\SOFTWARE\Quorel\Ports\VPRINTER'
  say "registry in $OPOS_REGISTRY_DIR, from examples/registry/poskit.reg"
  "$oposreg" import "$here/examples/registry/poskit.reg"
  # Files the devices name get full paths, so that the scripts run from any working folder.
  "$oposreg" set "$device" IniSet REG_SZ "$here/examples/metrics/VX40.INI"
  "$oposreg" set "$device" DATFile REG_SZ "$out/VX40LOGO.DAT"
  cp "$here/examples/metrics/VX40LOGO.DAT" "$out/VX40LOGO.DAT"
  "$oposreg" set "$device" RootPath REG_SZ "$out/images/"
  "$oposreg" set "$display" IniSet REG_SZ "$here/examples/metrics/VX40DSP.INI"
  "$oposreg" set "$port" Transport REG_SZ "sim:?render=$out/receipt.png&capture=$out/receipt.bin"
  # The monitor, the service objects and the three controls: POS printer, line display, drawer.
  for lib in monitor/libQuorelMonitor.so devsvc/libDevsvc.so controls/ptrctl/libPtrctl.so \
             controls/dspctl/libDspctl.so controls/cashdrawer/libDrwctl.so; do
    "$bin/tools/regsvr/regsvr" "$bin/$lib" >/dev/null
  done
  say "printing examples/scripts/receipt.posrun on the in-process virtual printer"
  "$posrun" "$here/examples/scripts/receipt.posrun"
  say "the receipt: $out/receipt.png (printer bytes in $out/receipt.bin)"
  # The receipt's QR Code, read back from the picture by a scanner program (zbar), which has
  # nothing in common with the encoder that drew it.
  local qr
  qr="$(zbarimg --quiet --raw -Sdisable -Sqrcode.enable -Sqrcode.binary "$out/receipt.png" 2>/dev/null)" ||
    { echo "kit.sh: no readable QR Code on the receipt" >&2; exit 1; }
  say "the receipt's QR Code reads: $qr"

  # The two-colour printer on a virtual printer of its own, with the kit's image-conversion
  # library for pictures in other colours than black, white and red.
  local colour='HKLM\SOFTWARE\OLEforRetail\ServiceOPOS\POSPrinter\VX40CDevice'
  "$oposreg" import "$here/examples/registry/colour.reg"
  "$oposreg" set "$colour" IniSet REG_SZ "$here/examples/metrics/VX40C.INI"
  "$oposreg" set "$colour" ConvertImageDLL REG_SZ "$bin/imgconv/libColorConvert.so"
  "$oposreg" set "$colour" RootPath REG_SZ "$out/"
  "$oposreg" set 'HKLM\SOFTWARE\Quorel\Ports\VCOLOUR' Transport REG_SZ \
    "sim:?id=0x2E&model=VX40C&render=$out/colour-receipt.png&capture=$out/colour-receipt.bin"
  say "printing examples/scripts/colour.posrun on the two-colour virtual printer"
  "$posrun" "$here/examples/scripts/colour.posrun"
  say "the two-colour receipt: $out/colour-receipt.png"

  # The customer display shares the printer's port; its bytes go to a capture of their own so
  # that the receipt's picture stays. The scripts run from the demo's folder, not the kit's.
  "$oposreg" set "$port" Transport REG_SZ "sim:?capture=$out/display.bin"
  local script
  for script in display marquee; do
    say "showing examples/scripts/$script.posrun on the line display (posrun --class LineDisplay)"
    (cd "$out" && "$posrun" --json --class LineDisplay "$here/examples/scripts/$script.posrun") \
      | tee "$out/$script.json"
    # Every call must have worked: no automation error, no result but 0.
    local failed
    failed="$(grep -e '"error"' -e '"result":[^0]' -e '"result":0[0-9]' "$out/$script.json" || true)"
    if [ -n "$failed" ]; then
      echo "kit.sh: examples/scripts/$script.posrun failed on the line display: $failed" >&2
      exit 1
    fi
  done
  say "display bytes in $out/display.bin"
}

case "${1:-}" in
  deps) install_missing ;;
  build) install_missing; build "${2:-debug}" ;;
  test)
    install_missing
    build release
    run_tests release
    build sanitize
    run_tests sanitize
    ;;
  demo) install_missing; demo ;;
  -h|--help|help|"")
    sed -n '2,6s/^# \{0,1\}//p' "$0"
    [ -n "${1:-}" ] || exit 2
    ;;
  *) echo "kit.sh: unknown command '$1' (try --help)" >&2; exit 2 ;;
esac
