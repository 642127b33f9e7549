#!/bin/bash
# Runs a Windows program under the project's Wine prefix (the test command makes it: scripts/common.sh).
export WINEPREFIX=${WINEPREFIX:-${PROJECT_CACHE:-${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/samplemorph}/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
exec wine "$@"
