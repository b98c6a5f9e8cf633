#!/bin/sh
# Shows how the server registration tool is used.
. "$(dirname "$0")/kit-tool.sh"
run_kit_tool regsvr --help
