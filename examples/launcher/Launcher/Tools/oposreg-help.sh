#!/bin/sh
# Shows the registry tool's commands.
. "$(dirname "$0")/kit-tool.sh"
run_kit_tool oposreg --help
