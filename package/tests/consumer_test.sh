#!/bin/sh
# The kit as a developer receives it: installed into a fresh prefix, then used from outside the
# source tree exactly as a consumer would.
#   consumer_test.sh install BUILD_DIR WORK CMAKE   installs BUILD_DIR into WORK/prefix and runs
#                                                   poskit-setup-demo into WORK/demo
#   consumer_test.sh find-package WORK CMAKE CXX    builds the installed examples/app with
#                                                   find_package(poskit) and runs it
#   consumer_test.sh pkg-config WORK CXX LIBDIR SRC builds SRC with pkg-config --cflags --libs
#                                                   poskit and runs it
set -eu

fail() { echo "consumer_test: $*" >&2; exit 1; }

mode="$1"
shift
case "$mode" in
  install)
    build="$1" work="$2" cmake="$3"
    rm -rf "$work"
    mkdir -p "$work"
    "$cmake" --install "$build" --prefix "$work/prefix" >"$work/install.log" || fail "cmake --install failed (see $work/install.log)"
    # Nothing generic and unversioned in the public library folder: only the client library.
    unexpected="$(find "$work/prefix" -path "$work/prefix/*/poskit" -prune -o -name 'lib*.so*' -print |
                  grep -v '/libposkit-opos\.so' || true)"
    [ -z "$unexpected" ] || fail "libraries outside lib/poskit/: $unexpected"
    "$work/prefix/bin/poskit-setup-demo" "$work/demo" >"$work/setup.log" || fail "poskit-setup-demo failed (see $work/setup.log)"
    grep -q "export OPOS_REGISTRY_DIR=$work/demo/registry" "$work/setup.log" || fail "poskit-setup-demo did not say how to select its registry"
    ;;
  find-package)
    work="$1" cmake="$2" cxx="$3"
    app="$work/prefix/share/poskit/examples/app"
    [ -f "$app/CMakeLists.txt" ] || fail "the example application is not installed in $app"
    rm -rf "$work/app-build"
    "$cmake" -S "$app" -B "$work/app-build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" \
      -DCMAKE_PREFIX_PATH="$work/prefix" >"$work/app-configure.log" || fail "configuring the example failed (see $work/app-configure.log)"
    "$cmake" --build "$work/app-build" >"$work/app-build.log" || fail "building the example failed (see $work/app-build.log)"
    # Run from an unrelated folder: the registry made by poskit-setup-demo names every file by its
    # installed path.
    rm -f "$work/demo/receipt.bin"
    (cd / && OPOS_REGISTRY_DIR="$work/demo/registry" "$work/app-build/pos_app") >"$work/app.out" 2>&1 ||
      { cat "$work/app.out" >&2; fail "the example application failed"; }
    cat "$work/app.out"
    for expected in "event: OutputCompleteEvent" "receipt printed" "display shows the total" "drawer opened"; do
      grep -q "$expected" "$work/app.out" || fail "the example's output lacks '$expected'"
    done
    grep -q "Corner Shop" "$work/demo/receipt.bin" || fail "the receipt's bytes did not reach the virtual printer"
    ;;
  pkg-config)
    work="$1" cxx="$2" libdir="$3" source="$4"
    PKG_CONFIG_PATH="$work/prefix/$libdir/pkgconfig"
    export PKG_CONFIG_PATH
    flags="$(pkg-config --cflags --libs poskit)" || fail "pkg-config does not know poskit"
    # shellcheck disable=SC2086
    "$cxx" -std=c++17 -o "$work/hello" "$source" $flags || fail "building with '$flags' failed"
    (cd / && LD_LIBRARY_PATH="$work/prefix/$libdir" OPOS_REGISTRY_DIR="$work/demo/registry" "$work/hello") ||
      fail "the pkg-config program failed"
    ;;
  *) fail "unknown mode $mode" ;;
esac
