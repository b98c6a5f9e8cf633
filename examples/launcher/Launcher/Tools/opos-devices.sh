#!/bin/sh
# Lists the OPOS device keys of the registry.
. "$(dirname "$0")/kit-tool.sh"
run_kit_tool oposreg export 'HKEY_LOCAL_MACHINE\SOFTWARE\OLEforRetail\ServiceOPOS'
