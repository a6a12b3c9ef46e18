# Sourced by the distribution tests: the environment of their own Wine
# prefix, apart from the one the Windows-target tests share.
#   QV_DIST_TEST_DIR  folder of the prefix and the tests' files (required)
: "${QV_DIST_TEST_DIR:?set QV_DIST_TEST_DIR to the folder of the test prefix}"
export WINEPREFIX="$QV_DIST_TEST_DIR/wine/prefix"
export WINEDEBUG=-all
# No Mono or Gecko prompts, and no menu entries or file associations for the
# host's desktop from what the tests install.
export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
unset DISPLAY

fail() { echo "FAIL: $*" >&2; exit 1; }
# Stops unless every named variable is set, and every file given exists.
need_vars() { local v; for v in "$@"; do [ -n "${!v:-}" ] || fail "$v is not set"; done; }
need_files() { local f; for f in "$@"; do [ -f "$f" ] || fail "missing build output $f (build the win preset first)"; done; }

# Runs qv_dist_probe (QV_PROBE) under Wine; its output without CRs.
probe() { wine "$QV_PROBE" "$@" </dev/null 2>&1 | tr -d '\r'; }

# What Windows reads from the program FILE (prints it): a 64-bit GUI program
# that Windows 7 runs (README.txt says so), with this version, the icon's
# sizes and a manifest asking for no elevation, common controls 6 and
# per-monitor DPI awareness. Windows refuses to start a program whose
# manifest it cannot read, and without one shows it without visual styles
# and scaled blurred.
check_program() {
  local out want minimum
  out=$(probe program "$(winepath -w "$1" 2>/dev/null)") || fail "the probe rejects $1: $out"
  echo "$out"
  while read -r want; do
    grep -qxF -- "$want" <<<"$out" || fail "$1: no '$want' in what Windows reads: $out"
  done <<END
Format=PE32+
Machine=AMD64
Subsystem=GUI
Icons=16,24,32,48,64,256
FixedFileVersion=$QV_VI_VERSION
FixedProductVersion=$QV_VI_VERSION
FileVersion=$QV_VERSION
ProductVersion=$QV_VERSION
CompanyName=Corvane
RunLevel=asInvoker
dpiAware=true/pm
dpiAwareness=PerMonitorV2, PerMonitor
END
  # The manifest asks for 6.0.0.0; Windows binds the 6.0 it has (Wine's is 6.0.2600.x).
  grep -qE '^Dependency=Microsoft\.Windows\.Common-Controls,.*version="6\.0\.' <<<"$out" ||
    fail "$1 does not get common controls 6: $out"
  minimum=$(sed -n 's/^SubsystemVersion=//p' <<<"$out")
  awk -v v="$minimum" 'BEGIN { split(v, n, "."); exit !(n[1] < 6 || (n[1] == 6 && n[2] <= 1)) }' ||
    fail "$1 needs Windows $minimum or later: Windows 7 (6.1) would refuse it"
}
