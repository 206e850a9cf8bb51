# Runs setup.exe under Wine in a throwaway prefix; source it.
# Needs: wine, wine32:i386 (scripts/deps.sh wine).

# wine_start: makes a fresh 32-bit prefix and keeps its server alive.
wine_start() {
  WINE_TMP=$(mktemp -d /tmp/vesk-wine.XXXXXX)
  export WINEPREFIX="$WINE_TMP/prefix" WINEARCH=win32 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono/Gecko prompts
  unset DISPLAY                               # MessageBoxA then returns at once
  wineboot -i >/dev/null 2>&1
  # Let the first-start server end, or its service manager lingers beside the
  # next one and clients talk to either.
  wineserver -w
  wineserver -p
  WIN="$WINEPREFIX/drive_c/windows"
  # Trace every message box with its text and caption, the registrations, and
  # the library loads (kernel32 forwards them to kernelbase).
  wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /f >/dev/null 2>&1 \
    /d 'user32.MessageBoxA;setupapi.SetupCopyOEMInfA;kernel32.LoadLibraryA;kernel32.LoadLibraryExA;kernelbase.LoadLibraryA;kernelbase.LoadLibraryExA'
}

wine_stop() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  rm -rf "$WINE_TMP"
}

# wine_version EXE-NAME VERSION (nt40, win98, win2k, winxp, win10)
wine_version() {
  wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$1" /v Version /d "$2" /f >/dev/null 2>&1
}

# wine_run [--no-setupapi | --native-setupapi] PROGRAM ARGS...
# Runs from a working folder other than the program's own. Sets RUN_CODE (the
# low 8 bits of the exit code), RUN_BOXES (one "caption: text" line a box),
# RUN_LOADS (the setupapi names the program asked the loader for),
# RUN_REGISTRATIONS (how many times it called SetupCopyOEMInfA) and RUN_LOG
# (the relay trace).
# --native-setupapi prefers a setupapi.dll found by the search over Wine's own,
# as Windows XP and 2000 do (there setupapi is not a known DLL).
wine_run() {
  local overrides="$WINEDLLOVERRIDES"
  case "${1:-}" in
    --no-setupapi) overrides="$overrides;setupapi=d"; shift ;;
    --native-setupapi) overrides="$overrides;setupapi=n,b"; shift ;;
  esac
  # A log of its own for every run: a server process that an earlier run
  # started (services.exe, say) inherited that run's log and may still write
  # into it, at its own offset.
  WINE_RUNS=$(( ${WINE_RUNS:-0} + 1 ))
  RUN_LOG="$WINE_TMP/relay.$WINE_RUNS.log"
  local log=$RUN_LOG
  mkdir -p "$WINE_TMP/elsewhere"
  (cd "$WINE_TMP/elsewhere" && WINEDEBUG=+relay WINEDLLOVERRIDES="$overrides" \
    wine "$@" >/dev/null 2>"$log") && RUN_CODE=0 || RUN_CODE=$?
  RUN_BOXES=$(sed -n 's/.*Call user32\.MessageBoxA([0-9a-f]*,[0-9a-f]* "\(.*\)",[0-9a-f]* "\(.*\)",[0-9a-f]*) ret=.*/\2: \1/p' "$log")
  RUN_LOADS=$(grep -a -E 'Call (kernel32|KERNEL32|kernelbase|KERNELBASE)\.LoadLibrary(Ex)?A\(' "$log" |
              sed -n 's/.*\.\(LoadLibraryE\{0,1\}x\{0,1\}A\)([0-9a-f]* "\([^"]*setupapi[^"]*\)".*/\1 \2/Ip' |
              sed 's/\\\\/\\/g' | sort -u)
  RUN_REGISTRATIONS=$(grep -a -c 'Call setupapi\.SetupCopyOEMInfA(' "$log")
}
