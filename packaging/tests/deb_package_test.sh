#!/usr/bin/env bash
# The .deb on this machine, as root: installs it with dpkg, checks the
# system-wide registration it made for the Chromium family (the manifests,
# vorneth-register check, a round trip to the installed host through
# vorneth-cli), builds the SDK's example add-on against the installed SDK,
# puts the logging library beside the host as a user would, then removes
# and purges the package and checks that every path of it is as it was
# before: nothing left in the package's folders or the manifest folders.
#
#   packaging/tests/deb_package_test.sh DEB VERSION EXTENSION_ID SOURCE_DIR
set -Eeuo pipefail

deb=$1
version=$2
extension_id=$3
source_dir=$4
manifest_folders=(/etc/opt/chrome/native-messaging-hosts /etc/chromium/native-messaging-hosts
  /etc/opt/edge/native-messaging-hosts /etc/opt/brave.com/brave/native-messaging-hosts
  /etc/opt/vivaldi/native-messaging-hosts)
host=/usr/lib/vorneth/vorneth-host
scratch=$(mktemp -d)
installed=0

fail() {
  echo "deb package test: $*" >&2
  exit 1
}
# After a failure the package goes, so that the next run starts clean.
clean_up() {
  local status=$?
  [ $installed -eq 1 ] && [ $status -ne 0 ] && dpkg --purge vorneth >/dev/null 2>&1
  rm -rf "$scratch"
  return $status
}
trap clean_up EXIT

[ "$(id -u)" -eq 0 ] || fail "needs root (dpkg -i)"
# The package's state in dpkg: empty or "...not-installed" when it is gone.
package_state() { dpkg-query -W -f='${Status}' vorneth 2>/dev/null || true; }
case "$(package_state)" in
  "" | *not-installed) ;;
  *) fail "the package vorneth is on this machine already ($(package_state)); dpkg --purge vorneth first" ;;
esac

# Every path the package may create: its own files and folders, the
# manifests and the logging library's copy that appear after installation,
# and what is under the manifest folders' parents. Each with its type, or
# "absent".
package_paths() {
  dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\.||; s|/$||' | sed '/^$/d'
  for folder in "${manifest_folders[@]}"; do echo "$folder/org.vorneth.host.json"; done
  echo /usr/lib/vorneth/libquenlog.so
}
snapshot() {
  while read -r path; do
    if [ -e "$path" ]; then stat -c '%n %F' "$path"; else echo "$path absent"; fi
  done < <(package_paths)
  # (find fails for a folder that is not there: expected.)
  { find /etc/chromium /etc/opt /usr/lib/vorneth /usr/include/vorneth /usr/lib/cmake/vorneth 2>/dev/null || true; } | sort
}
before=$(snapshot)

dpkg -i "$deb" >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; fail "dpkg -i failed"; }
installed=1

# The manifests that postinst wrote, one per browser of the family.
for folder in "${manifest_folders[@]}"; do
  python3 - "$folder/org.vorneth.host.json" "$host" "$extension_id" <<'EOF' || fail "the manifest in $folder is wrong"
import json, sys
path, host, extension_id = sys.argv[1:]
with open(path, encoding="utf-8") as file:
    manifest = json.load(file)
wanted = {"name": "org.vorneth.host", "description": "Vorneth native add-on host", "path": host,
          "type": "stdio", "allowed_origins": [f"chrome-extension://{extension_id}/"]}
if manifest != wanted:
    sys.exit(f"{path}: {manifest} instead of {wanted}")
EOF
done
timeout 60 vorneth-register check --system --browser chromium >"$scratch/check.log" 2>&1 ||
  { cat "$scratch/check.log"; fail "vorneth-register check --system --browser chromium failed"; }

# vorneth-cli finds the installed host by itself.
r='{"type":"Vorneth-I","portId":"1","params":[],'
answer=$(XDG_DATA_HOME=$scratch/data timeout 60 vorneth-cli --create https://shop.example/cart \
  "${r}\"command\":\"GetHostVersion\",\"callbackId\":\"1\"}" </dev/null)
grep -q "\"callbackId\":\"1\".*\"response\":\"$version\"" <<<"$answer" ||
  fail "the installed host answered '$answer' to GetHostVersion"

# The modules the host loads on its first download and its first archive.
for module in vorneth-http.so vorneth-zip.so; do
  [ -f "/usr/lib/vorneth/$module" ] || fail "$module is not beside the installed host"
done

# An add-on author's build with the installed SDK: the CMake helper finds
# the installed header.
mkdir "$scratch/addon"
cp "$source_dir"/sdk/example/*.cpp "$source_dir"/sdk/example/*.h "$scratch/addon/"
rm "$scratch/addon/json_fields_test.cpp"
cat >"$scratch/addon/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.20)
project(installed-sdk LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 17)
find_package(Threads REQUIRED)
include(/usr/lib/cmake/vorneth/VornethAddon.cmake)
vorneth_add_addon(example SOURCES example_addon.cpp json_fields.cpp)
target_link_libraries(example PRIVATE Threads::Threads)
EOF
{ cmake -S "$scratch/addon" -B "$scratch/addon/build" -G Ninja && ninja -C "$scratch/addon/build"; } \
  >"$scratch/addon.log" 2>&1 || { cat "$scratch/addon.log"; fail "the example add-on does not build with the installed SDK"; }
[ -f "$scratch/addon/build/example/addon.so" ] || fail "the installed SDK built no addon.so"

# Tracing switched on as the README says; removal takes the copy too.
vorneth-register install --system --browser chromium --host "$host" \
  --trace-library /usr/lib/vorneth/quenlog/libquenlog.so >"$scratch/trace.log" 2>&1 ||
  { cat "$scratch/trace.log"; fail "vorneth-register install --trace-library failed"; }
[ -f /usr/lib/vorneth/libquenlog.so ] || fail "the logging library is not beside the host"

dpkg -r vorneth >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; fail "dpkg -r failed"; }
dpkg --purge vorneth >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; fail "dpkg --purge failed"; }
installed=0
case "$(package_state)" in
  "" | *not-installed) ;;
  *) fail "dpkg still has the package: $(package_state)" ;;
esac
diff <(echo "$before") <(snapshot) || fail "the system differs after removal (above: before, after)"
echo "deb package test: passed"
