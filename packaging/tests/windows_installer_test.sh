#!/usr/bin/env bash
# The Windows installer under wine: installs silently for the current user
# and for all users side by side, checks the files, the manifests (the
# host's real path, the extensions), the browsers' registry keys (HKLM in
# the 64-bit view only) and the Add/Remove Programs entries, asks each
# installed host for its version through the installed vorneth-cli.exe,
# checks all that once more through the installed vorneth-register.exe,
# then runs each entry's quiet uninstall command and checks that the files
# and keys are gone and the other scope's are untouched. Last, a folder
# outside the code page (/D=) for the manifest's UTF-8.
#
#   packaging/tests/windows_installer_test.sh INSTALLER VERSION EXTENSION_ID [32|64]
#
# The last argument is the installer's word size (32 by default): the
# 64-bit one installs for all users into "Program Files", the 32-bit one
# into "Program Files (x86)". Needs WINEPREFIX (a 64-bit prefix) and its
# running wineserver, as tools/dev.sh run_windows_tests sets them up, and
# VORNETH_HOST_LAUNCHER, the wine loader for that word size (wine when
# unset). Leaves the prefix as it was.
set -Eeuo pipefail

installer=$1
version=$2
extension_id=$3
bits=${4:-32}
wine=${VORNETH_HOST_LAUNCHER:-wine}
user_dir='C:\users\'"$(id -un)"'\AppData\Local\Programs\Vorneth'
all_dir='C:\Program Files (x86)\Vorneth'
[ "$bits" = 64 ] && all_dir='C:\Program Files\Vorneth'
# /D= must stand unquoted at the end of the command line, and wine quotes
# an argument with a space: this one has none.
odd_dir='C:\users\'"$(id -un)"'\VornethTëst'
browser_keys=('Software\Google\Chrome' 'Software\Chromium' 'Software\Microsoft\Edge'
  'Software\BraveSoftware\Brave-Browser' 'Software\Vivaldi' 'Software\Mozilla')
uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Vorneth'

fail() {
  echo "windows installer test: $*" >&2
  exit 1
}
# The folder in the prefix for a Windows path on drive C:.
unix_path() {
  local path=${1#C:\\}
  printf '%s/drive_c/%s' "$WINEPREFIX" "${path//\\//}"
}
# Runs the given reg.exe command lines in one wine process (a process start
# costs most of the time) and prints their output without CR and empty lines;
# the output is what is checked, the last command's status is not.
reg_run() {
  local line="" output
  for command in "$@"; do line+="${line:+ & }reg $command"; done
  output=$("$wine" cmd /c "$line" 2>&1 </dev/null) || true
  tr -d '\r' <<<"$output" | sed '/^$/d'
}
# Everything the installer may touch, in both hives and both views: the
# browsers' vendor keys and the uninstall entry.
registry_snapshot() {
  local commands=()
  for key in 'Software\Google' 'Software\Chromium' 'Software\Microsoft\Edge' 'Software\BraveSoftware' \
    'Software\Vivaldi' 'Software\Mozilla' "$uninstall_key"; do
    commands+=("query HKCU\\$key /s" "query HKLM\\$key /s /reg:64" "query HKLM\\$key /s /reg:32")
  done
  reg_run "${commands[@]}"
}

# The keys and entry of one scope as they must read while it is installed.
check_keys() {
  local hive=$1 hive_name=$2 dir=$3 scope=$4 commands=() expected=""
  for key in "${browser_keys[@]}"; do
    local manifest=org.vorneth.host.json
    [ "$key" = 'Software\Mozilla' ] && manifest=org.vorneth.host.firefox.json
    commands+=("query $hive\\$key\\NativeMessagingHosts\\org.vorneth.host /ve /reg:64")
    expected+="$hive_name\\$key\\NativeMessagingHosts\\org.vorneth.host"$'\n'
    expected+="    (Default)    REG_SZ    $dir\\$manifest"$'\n'
    if [ "$hive" = HKLM ]; then
      # Not in the 32-bit view, where no browser looks.
      commands+=("query $hive\\$key\\NativeMessagingHosts\\org.vorneth.host /ve /reg:32")
      expected+="reg: Unable to find the specified registry key"$'\n'
    fi
  done
  commands+=("query $hive\\$uninstall_key /v QuietUninstallString /reg:64")
  expected+="$hive_name\\$uninstall_key"$'\n'
  expected+="    QuietUninstallString    REG_SZ    \"$dir\\uninstall.exe\" $scope /S"
  diff <(echo "$expected") <(reg_run "${commands[@]}") || fail "the registry for $scope differs (above)"
}

# The installed files, the manifests naming the host by its real path, and
# a round trip to the installed host.
check_folder() {
  local dir=$1 folder
  folder=$(unix_path "$dir")
  for file in vorneth-host.exe vorneth-cli.exe vorneth-register.exe quenlog/Quenlog.dll uninstall.exe \
    org.vorneth.host.json org.vorneth.host.firefox.json; do
    [ -f "$folder/$file" ] || fail "$dir\\$file is missing"
  done
  python3 - "$folder" "$dir" "$extension_id" <<'EOF' || fail "a manifest in $dir is wrong"
import json, sys
folder, directory, extension_id = sys.argv[1:]
for name, key, allowed in (("org.vorneth.host.json", "allowed_origins", [f"chrome-extension://{extension_id}/"]),
                           ("org.vorneth.host.firefox.json", "allowed_extensions", ["vorneth@vorneth.org"])):
    with open(f"{folder}/{name}", "rb") as file:
        manifest = json.loads(file.read().decode("utf-8"))
    wanted = {"name": "org.vorneth.host", "description": "Vorneth native add-on host",
              "path": directory + "\\vorneth-host.exe", "type": "stdio", key: allowed}
    if manifest != wanted:
        sys.exit(f"{name}: {manifest} instead of {wanted}")
EOF
  local r='{"type":"Vorneth-I","portId":"1","params":[],' answer
  answer=$("$wine" "$folder/vorneth-cli.exe" --timeout-ms 20000 \
    "${r}\"command\":\"Create\",\"url\":\"https://shop.example/cart\",\"version\":\"1.4.2\"}" \
    "${r}\"command\":\"GetHostVersion\",\"callbackId\":\"1\"}" </dev/null | tr -d '\r')
  grep -q "\"callbackId\":\"1\".*\"response\":\"$version\"" <<<"$answer" ||
    fail "the host in $dir answered '$answer' to GetHostVersion"
}

# Runs the quiet uninstall command that check_keys found in the entry
# (read back here through the console's code page, a path outside it would
# not survive) and waits, bounded, until the folder is gone: the uninstaller
# runs from a copy of itself after the command has returned.
uninstall() {
  local scope=$1 dir=$2
  "$wine" "$(unix_path "$dir")/uninstall.exe" "$scope" /S </dev/null
  local folder
  folder=$(unix_path "$dir")
  for _ in $(seq 150); do
    [ -e "$folder" ] || break
    sleep 0.2
  done
  [ ! -e "$folder" ] || fail "$dir is still there after uninstalling: $(ls "$folder")"
}

# After a failure, what is still installed goes (best effort), so that the
# next run starts from a clean prefix.
clean_up() {
  local status=$?
  [ $status -eq 0 ] && return
  other_hosts delete
  for scope in "/CURRENTUSER $user_dir" "/ALLUSERS $all_dir" "/CURRENTUSER $odd_dir"; do
    local folder
    folder=$(unix_path "${scope#* }")
    [ -f "$folder/uninstall.exe" ] && "$wine" "$folder/uninstall.exe" /S "${scope%% *}" "_?=${scope#* }" </dev/null
    rm -rf "$folder"
  done
  return $status
}
trap clean_up EXIT

# Another program's host beside ours under every browser's key, in both
# hives: uninstalling must leave it, and the keys above it, alone. (Keys
# left empty above ours are removed, whoever made them: the prefix may hold
# such keys from other tests, and with these entries none of them is empty.)
other_hosts() {
  local commands=()
  for key in "${browser_keys[@]}"; do
    for hive in HKCU HKLM; do
      if [ "$1" = add ]; then
        commands+=("add $hive\\$key\\NativeMessagingHosts\\org.example.other /ve /d C:\\other.json /f /reg:64")
      else
        commands+=("delete $hive\\$key\\NativeMessagingHosts\\org.example.other /f /reg:64")
      fi
    done
  done
  reg_run "${commands[@]}" >/dev/null
}
other_hosts add
before=$(registry_snapshot)
for dir in "$user_dir" "$all_dir" "$odd_dir"; do
  [ ! -e "$(unix_path "$dir")" ] || fail "$dir exists before the test"
done

"$wine" "$installer" /S </dev/null || fail "the installer for the current user failed ($?)"
"$wine" "$installer" /S /ALLUSERS </dev/null || fail "the installer for all users failed ($?)"
check_folder "$user_dir"
check_folder "$all_dir"
check_keys HKCU HKEY_CURRENT_USER "$user_dir" /CURRENTUSER
check_keys HKLM HKEY_LOCAL_MACHINE "$all_dir" /ALLUSERS
# What the browsers find, as vorneth-register reads it: every browser in
# both scopes, each host asked for its version.
check=$("$wine" "$(unix_path "$user_dir")/vorneth-register.exe" check </dev/null 2>&1) ||
  fail "vorneth-register check after both installations: $check"
tr -d '\r' <<<"$check" | tail -1

uninstall /CURRENTUSER "$user_dir"
check_keys HKLM HKEY_LOCAL_MACHINE "$all_dir" /ALLUSERS
[ -f "$(unix_path "$all_dir")/vorneth-host.exe" ] || fail "uninstalling for the user removed the all-users host"
uninstall /ALLUSERS "$all_dir"

"$wine" "$installer" /S "/D=$odd_dir" </dev/null || fail "the installer into $odd_dir failed ($?)"
check_folder "$odd_dir"
uninstall /CURRENTUSER "$odd_dir"

# The uninstaller removes its entry last: wait for the registry as well.
for _ in $(seq 20); do
  after=$(registry_snapshot)
  [ "$after" = "$before" ] && break
  sleep 0.5
done
diff <(echo "$before") <(echo "$after") || fail "the registry differs after uninstalling (above: before, after)"
other_hosts delete
echo "windows installer test: passed"
