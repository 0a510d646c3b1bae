# Shared by the Wine tests: a quiet prefix of the given architecture, Windows
# paths, and one way to run a Windows program. Sourced; defines skip, pass,
# fail, winpath, wine_start and wine_run, and counts failures in $failures.

skip() { echo "SKIPPED: $*"; exit 77; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }

# Windows path of a file (Wine maps / to drive Z:).
winpath() { printf 'Z:%s' "$(readlink -f "$1" | tr '/' '\\')"; }

# wine_start LOADER PREFIX_DIR ARCH: a prefix of ARCH (win32 or win64) in
# PREFIX_DIR, booted once; skips the test when Wine cannot start.
wine_start() {
  wine="$1"
  prefix="$(mkdir -p "$2" && cd "$2" && pwd)"  # Wine wants an absolute path
  export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH="$3"
  unset DISPLAY WAYLAND_DISPLAY
  # No desktop integration or browser and runtime installers in the prefix.
  export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
  if [ ! -f "$prefix/system.reg" ]; then
    echo "creating the Wine prefix $prefix (the first start takes about a minute)"
  fi
  if ! timeout 300 "$wine" wineboot --init >"$prefix.boot.log" 2>&1; then
    skip "Wine cannot start here (wineboot failed; see $prefix.boot.log)"
  fi
}

# wine_run EXE ARGS…: the program's output without carriage returns in $out,
# its exit code in $code, its standard error in $prefix.stderr.
wine_run() {
  local exe="$1"
  shift
  out="$(timeout 300 "$wine" "$exe" "$@" 2>"$prefix.stderr" | tr -d '\r')"
  code=${PIPESTATUS[0]}
}
