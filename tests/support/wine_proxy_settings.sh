#!/usr/bin/env bash
# Sets the current user's browser proxy settings in a wine prefix: what
# WinHttpGetIEProxyConfigForCurrentUser reports to the Windows host. Run it
# with the environment of the prefix (WINEPREFIX, WINEARCH, WINEDEBUG, ...
# and VORNETH_HOST_LAUNCHER, the wine loader of the host under test; wine
# when unset) and no process of the prefix in the middle of a request.
#
#   wine_proxy_settings.sh direct                  no proxy, no detection
#   wine_proxy_settings.sh proxy HOST:PORT [BYPASS] a fixed proxy; BYPASS
#                                                  as the system takes it,
#                                                  e.g. "<local>;*.example"
#   wine_proxy_settings.sh script URL              a configuration script
#   wine_proxy_settings.sh detect                  automatic detection (sends
#                                                  discovery traffic off the
#                                                  machine: avoid in tests)
#
# "direct" is what a test prefix must be left with (tools/dev.sh sets it
# right after creating the prefix); a test that sets a proxy restores it
# with "direct" at the end, also when it fails.
#
# The settings are the value DefaultConnectionSettings (REG_BINARY) under
# HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections,
# little-endian 32-bit fields:
#   0x46                   the format's mark
#   counter                changed on every change of the settings
#   flags                  1 direct, 2 fixed proxy, 4 configuration script,
#                          8 automatic detection (combined)
#   length, proxy text     "host:port" (or the per-scheme list), no NUL
#   length, bypass text
#   length, script URL
# Windows appends more fields (detection results); wine and Windows read the
# value without them.
#
# What wine 8's WinHTTP does through such a proxy (measured):
# - a server named by an IP literal (http://127.0.0.1:port) is requested
#   from the proxy in origin form ("GET /path"); name it "localhost" to get
#   "GET http://localhost:port/path";
# - a 407 answer to the CONNECT of an https request never reaches the
#   caller: the send waits while the proxy keeps the connection open, and
#   fails with 12157 when the proxy closes it; https through a proxy that
#   lets the CONNECT through works;
# - the stored credential's target is the proxy text as set here
#   ("127.0.0.1:3128"), and no NTLM without ntlm_auth (winbind).
set -euo pipefail

key='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections'

# A 32-bit number as little-endian hex.
dword() {
  printf '%02x%02x%02x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255))
}

# A text as its length and its bytes, in hex.
text() {
  dword "${#1}"
  [ -z "$1" ] || printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'
}

# settings FLAGS PROXY BYPASS URL
settings() {
  local blob
  blob="$(dword 0x46)$(dword "$(date +%s)")$(dword "$1")$(text "$2")$(text "$3")$(text "$4")"
  "${VORNETH_HOST_LAUNCHER:-wine}" reg add "$key" /v DefaultConnectionSettings /t REG_BINARY /d "$blob" /f >/dev/null 2>&1
}

case "${1:-}" in
  direct) settings 1 "" "" "" ;;
  proxy)
    [ $# -ge 2 ] || { echo "usage: $0 proxy HOST:PORT [BYPASS]" >&2; exit 2; }
    settings 3 "$2" "${3:-}" ""
    ;;
  script)
    [ $# -eq 2 ] || { echo "usage: $0 script URL" >&2; exit 2; }
    settings 5 "" "" "$2"
    ;;
  detect) settings 9 "" "" "" ;;
  *)
    sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
    ;;
esac
