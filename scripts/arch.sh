# Which Windows builds this machine can run under Wine (sourced, not run).
#
# Every machine runs the 64-bit build under 64-bit Wine. The 32-bit build needs a kernel that
# executes 32-bit Linux programs, which some do not ("Exec format error"): host_runs_32bit starts a
# minimal static i386 program (exit(0) through int 0x80) once and answers from its exit status.

host_runs_32bit() {
  if [ -z "${HOST_RUNS_32BIT:-}" ]; then
    local probe
    probe=$(mktemp)
    base64 -d > "$probe" <<'ELF'
f0VMRgEBAQAAAAAAAAAAAAIAAwABAAAAVIAECDQAAAAAAAAAAAAAADQAIAABAAAAAAAAAAEAAAAAAAAAAIAECACABAhdAAAAXQAAAAUAAAAAEAAAuAEAAAAx282A
ELF
    chmod +x "$probe"
    if "$probe" 2>/dev/null; then HOST_RUNS_32BIT=yes; else HOST_RUNS_32BIT=no; fi
    rm -f "$probe"
    export HOST_RUNS_32BIT
  fi
  [ "$HOST_RUNS_32BIT" = yes ]
}

# The MinGW-w64 triplet of each build: i686 first (the program as it ships), then x86_64.
ALL_HOSTS="i686-w64-mingw32 x86_64-w64-mingw32"

# Wine's loader for the programs of a build: the 32-bit one for i686, the 64-bit one for x86_64.
wine_loader() {
  case $1 in
    i686-w64-mingw32) echo /usr/lib/wine/wine ;;
    x86_64-w64-mingw32) echo /usr/lib/wine/wine64 ;;
    *) return 1 ;;
  esac
}

# The builds whose programs this machine can run, in the order above.
runnable_hosts() {
  if host_runs_32bit; then echo "i686-w64-mingw32 x86_64-w64-mingw32"; else echo "x86_64-w64-mingw32"; fi
}
