# Finds one of the kit's command-line tools and runs it; sourced by the launcher's scripts.
# Looks in the folders of $POSKIT_BIN (separated by ":"), then in the installed bin/ folder,
# then in PATH.
run_kit_tool() {
  name=$1
  shift
  here=$(cd "$(dirname "$0")" && pwd)
  folders="${POSKIT_BIN:+$POSKIT_BIN:}$here/../../../../bin"
  old_ifs=$IFS
  IFS=:
  for folder in $folders; do
    if [ -n "$folder" ] && [ -x "$folder/$name" ]; then
      IFS=$old_ifs
      exec "$folder/$name" "$@"
    fi
  done
  IFS=$old_ifs
  if command -v "$name" >/dev/null 2>&1; then
    exec "$name" "$@"
  fi
  echo "$0: cannot find the kit's program '$name' (set POSKIT_BIN to its folder)" >&2
  exit 127
}
