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
