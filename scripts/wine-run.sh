#!/bin/bash
# Runs a Windows program under Wine: wine-run.sh HOST PROGRAM [ARGS...], with HOST the MinGW-w64
# triplet the program was built for (i686-w64-mingw32 or x86_64-w64-mingw32), which picks Wine's
# 32-bit or 64-bit loader and that build's prefix (the test command makes it: scripts/common.sh).
source "$(dirname "${BASH_SOURCE[0]}")/arch.sh"
host=$1; shift
loader=$(wine_loader "$host") || { echo "wine-run.sh: unknown host '$host'" >&2; exit 2; }
[ -x "$loader" ] || { echo "wine-run.sh: $loader is missing (the $host build cannot run on this machine)" >&2; exit 2; }
export WINEPREFIX=${WINEPREFIX:-${PROJECT_CACHE:-${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/samplemorph}/wineprefix-$host}
export WINEDEBUG=${WINEDEBUG:--all,err+winediag}
export WINELOADER=$loader
# A program that ends with an error says so with its exit code and run time, so that one that ends
# before it prints anything (seen once: no output after 0.08 s) leaves a trace in the test log.
start=$(date +%s%N)
"$loader" "$@"
rc=$?
[ "$rc" = 0 ] || echo "wine-run.sh: $1 ended with exit code $rc after $(( ($(date +%s%N) - start) / 1000000 )) ms" >&2
exit "$rc"
