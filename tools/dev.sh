#!/usr/bin/env bash
# Builds and checks vorneth-host on Debian 12. Run from anywhere, as root or
# with sudo at hand (missing build packages are installed with apt-get).
#
#   tools/dev.sh demo    build, then run a short scripted session through
#                        vorneth-cli on a scratch data folder
#   tools/dev.sh test    build, then run every test: the plain build, the
#                        address+undefined sanitizer build, and the thread
#                        sanitizer build for the concurrency tests
#   tools/dev.sh bench   release build with the benchmarks, then run them
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

log() { printf '\n== %s\n' "$*"; }

install_packages() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

build_packages=(cmake ninja-build g++ pkg-config libjsoncpp-dev libgtest-dev)

# configure <build dir> <extra cmake arguments...>
configure() {
  local dir=$1
  shift
  cmake -S "$root" -B "$root/$dir" -G Ninja -DVORNETH_WERROR=ON "$@" >/dev/null
}

run_demo() {
  install_packages "${build_packages[@]}"
  configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNETH_TESTS=ON
  ninja -C "$root/build" -j"$jobs" vorneth-host vorneth-cli
  demo_data=$(mktemp -d)
  trap 'rm -rf "$demo_data"' EXIT
  local data=$demo_data
  log "a page session through vorneth-cli (data folder $data)"
  local r='{"type":"Vorneth-I","portId":"1","params":[],'
  local p='{"type":"Vorneth","portId":"1","params":[],'
  XDG_DATA_HOME=$data "$root/build/src/host/vorneth-cli" \
    "${r}\"command\":\"Create\",\"url\":\"https://shop.example/cart\",\"version\":\"1.4.2\"}" \
    "${r}\"command\":\"GetHostVersion\",\"callbackId\":\"1\"}" \
    "${p}\"command\":\"GetVersion\",\"callbackId\":\"2\"}" \
    "${r}\"command\":\"IsDomainBlocked\",\"callbackId\":\"3\"}" \
    "${r}\"command\":\"SetDomainDenied\",\"callbackId\":\"4\"}" \
    "${r}\"command\":\"ReadVornethPermListDB\",\"callbackId\":\"5\"}" \
    "${p}\"command\":\"RegisterEvent\",\"params\":[\"AddOnInstallFinishEvent\"],\"callbackId\":\"6\"}" \
    "${r}\"command\":\"SetDomainAllowed\",\"callbackId\":\"7\"}" \
    "${p}\"command\":\"RegisterEvent\",\"params\":[\"AddOnInstallFinishEvent\"],\"callbackId\":\"8\"}"
  log "the store file afterwards"
  cat "$data/Vorneth/vorneth.db"
  echo
}

run_tests() {
  install_packages "${build_packages[@]}" locales
  local started=$SECONDS

  log "plain build: every test"
  configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
  ninja -C "$root/build" -j"$jobs"
  (cd "$root/build" && ctest -j"$jobs" --output-on-failure --timeout 300)

  log "address+undefined sanitizer build: every test"
  configure build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNETH_SANITIZE=address
  ninja -C "$root/build-asan" -j"$jobs"
  (cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest -j"$jobs" --output-on-failure --timeout 300)

  log "thread sanitizer build: concurrency tests"
  configure build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNETH_SANITIZE=thread
  ninja -C "$root/build-tsan" -j"$jobs"
  (cd "$root/build-tsan" && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest -j"$jobs" -L concurrency --output-on-failure --timeout 300)

  log "all tests passed in $((SECONDS - started)) s"
}

run_bench() {
  install_packages "${build_packages[@]}" libbenchmark-dev
  configure build-bench -DCMAKE_BUILD_TYPE=Release -DVORNETH_TESTS=OFF -DVORNETH_BENCH=ON
  ninja -C "$root/build-bench" -j"$jobs"
  for bench in "$root"/build-bench/bench/*_bench; do
    log "$(basename "$bench")"
    "$bench"
  done
}

case "${1:-}" in
  demo) run_demo ;;
  test) run_tests ;;
  bench) run_bench ;;
  *)
    sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
