#!/bin/bash
# Runs a Windows program under the project's Wine prefix (made by scripts/wine-env.sh).
export WINEPREFIX=${WINEPREFIX:-${PROJECT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/samplemorph}/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
exec wine "$@"
