#!/bin/sh
# Checks a built poskit .deb without installing it on this machine: its metadata and
# dependencies (each one must be satisfiable here), then the package unpacked into a scratch root,
# where poskit-setup-demo runs and the example application is built against the unpacked /usr and
# prints a receipt on the virtual printer.
#   deb_check.sh PACKAGE.deb WORK
set -eu

fail() { echo "deb_check: $*" >&2; exit 1; }

deb="$1" work="$2"
[ -f "$deb" ] || fail "no package $deb"
rm -rf "$work"
mkdir -p "$work"

echo "== metadata"
dpkg-deb -f "$deb" Package Version Architecture Depends
depends="$(dpkg-deb -f "$deb" Depends)"
[ -n "$depends" ] || fail "the package declares no dependencies"
# Every dependency (first alternative, version ignored) is a package this machine has installed.
echo "$depends" | tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/ //g' | while read -r dep; do
  [ -n "$dep" ] || continue
  dpkg-query -W -f='${Status}\n' "$dep" 2>/dev/null | grep -q 'install ok installed' || fail "dependency $dep is not installed"
done

echo "== contents"
dpkg-deb -c "$deb" | awk '{print $6}' | grep -E '^\./usr/(bin/posrun|include/opos/pos_printer.h|lib/(.*/)?libposkit-opos.so.0|lib/(.*/)?cmake/poskit/poskitConfig.cmake|lib/(.*/)?pkgconfig/poskit.pc|lib/(.*/)?poskit/libDevsvc.so|share/man/man1/posrun.1|share/applications/poskit-launcher.desktop|lib/systemd/system/poskit-vprinter.service)$' \
  | sort | tee "$work/found.txt"
[ "$(wc -l < "$work/found.txt")" -eq 9 ] || fail "the package lacks some of the files above"

echo "== unpacked into $work/root"
dpkg-deb -x "$deb" "$work/root"
root="$work/root/usr"
"$root/bin/posrun" --version
"$root/bin/poskit-setup-demo" "$work/demo" >/dev/null
cmake -S "$root/share/poskit/examples/app" -B "$work/app" -G Ninja -DCMAKE_PREFIX_PATH="$root" >/dev/null
cmake --build "$work/app" >/dev/null
(cd / && OPOS_REGISTRY_DIR="$work/demo/registry" "$work/app/pos_app")
grep -q "Corner Shop" "$work/demo/receipt.bin" || fail "the receipt did not reach the virtual printer"
echo "deb_check: $deb is complete and its example application prints"
