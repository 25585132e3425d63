#!/usr/bin/env bash
# Builds and checks vorneth-host on Debian 12. Run from anywhere, as root or
# with sudo at hand (missing build packages are installed with apt-get).
#
#   tools/dev.sh demo    build, pack the SDK's example add-on and drive it
#                        through vorneth-cli on a scratch data folder:
#                        install, create, invoke, an event, dispose
#   tools/dev.sh test    build, then run every test: the plain build, the
#                        32-bit and the 64-bit Windows builds (both
#                        cross-compiled; the platform unit tests and the
#                        end-to-end tests under wine against the 32-bit one,
#                        or against the 64-bit one on a machine that runs no
#                        32-bit program), the address+undefined sanitizer
#                        build (Clang) and the thread sanitizer build, each
#                        with every test, and every fuzz target for 20 s
#                        from its corpus (as root also the .deb: installed,
#                        checked and removed; with Windows also the
#                        installers that the machine can run, under wine)
#   tools/dev.sh test --linux-only
#                        the same without the Windows builds
#   tools/dev.sh windows-choice
#                        which Windows build `test` tests on this machine,
#                        in one line; exit status 1 where it can test none
#   tools/dev.sh package [CMAKE_ARGS...]
#                        build the .deb (Release) and the 32-bit and 64-bit
#                        Windows installers into build-packages/; CMAKE_ARGS
#                        go to every build (for a release:
#                        -DVORNETH_PUBLIC_KEY=<key PEM>)
#   tools/dev.sh check   the style checks alone: clang-format (a difference
#                        fails), the layers of the includes
#                        (tools/check_layers.py), clang-tidy (its checks
#                        are errors) and the Clang build with
#                        -Wthread-safety -Werror
#   tools/dev.sh format  rewrite every source file in the checked format
#   tools/dev.sh fuzz [minutes]
#                        build the libFuzzer targets of fuzz/ (Clang, with
#                        the address and undefined sanitizers) and run each
#                        from its seed corpus for that long (10 by default);
#                        findings land in build-fuzz/fuzz-findings/
#   tools/dev.sh bench   release build with the benchmarks, then run them,
#                        host_vs_minimal last: every speed figure of the host
#                        beside a minimal host's, with ratio and target
#   tools/dev.sh soak [minutes]
#                        the address+undefined sanitizer build (as in test),
#                        then the soak driver (tests/soak) against its host
#                        for that long (30 by default): mixed traffic from
#                        several host processes, every answer accounted for,
#                        memory, threads and descriptors flat, no leak at exit
set -Eeuo pipefail
trap 'echo "dev.sh: failed at line $LINENO: $BASH_COMMAND" >&2' ERR

root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
# Tests at once: twice the processors. Many tests spend their time waiting
# (a hung peer's lock, a host's time-out, a server's answer), which leaves a
# processor idle at one test per processor.
test_jobs=$((jobs * 2))

# A step's title, after the seconds since the command started.
log() { printf '\n== [%d s] %s\n' "$SECONDS" "$*"; }

# install_packages [--download-only] <package>...: installs those not
# installed yet; with --download-only, only fetches them into apt's cache
# (nothing on the machine changes, so it may run beside anything).
install_packages() {
  local mode=() doing=installing
  [ "${1:-}" = "--download-only" ] && { mode=(--download-only); doing=downloading; shift; }
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "$doing ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${mode[@]}" \
    "${missing[@]}" >/dev/null
}

build_packages=(cmake ninja-build g++ pkg-config libjsoncpp-dev libzip-dev libssl-dev libgtest-dev
  libcurl4-openssl-dev libproxy-dev libsecret-1-dev)
# What the download client's tests run against: HTTP(S) servers and a
# scripted proxy in Python, a test authority made with openssl, a real
# authenticating proxy, a Secret Service on a private D-Bus, and the curl
# tool that checks the scripted proxy. Chromium for the real-browser test
# (tests/browser).
test_packages=(python3 openssl tinyproxy-bin gnome-keyring libsecret-tools dbus-daemon curl chromium)
check_packages=(clang clang-format clang-tidy)
windows_packages=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  gcc-mingw-w64-x86-64-posix dpkg-dev libgtest-dev wine wine32:i386 wine64 libgnutls30:i386 nsis)
# CPack's DEB generator computes the package's dependencies with
# dpkg-shlibdeps.
deb_packages=(dpkg-dev)

# wine runs 32-bit Windows programs with the i386 libraries.
enable_i386() {
  dpkg --print-foreign-architectures | grep -qx i386 && return 0
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" dpkg --add-architecture i386
  "${sudo[@]}" apt-get update -qq
}

# configure <build dir> <extra cmake arguments...>
configure() {
  local dir=$1
  shift
  cmake -S "$root" -B "$root/$dir" -G Ninja -DVORNETH_WERROR=ON "$@" >/dev/null
}

# Every C++ file under version control.
source_files() {
  git -C "$root" ls-files -- '*.cpp' '*.h' | sed "s|^|$root/|"
}

run_format() {
  install_packages "${check_packages[@]}"
  source_files | xargs clang-format -i
}

# The plain and the address-sanitizer builds compile each library and test
# program as a few large files (a unity build): a third less compiling.
# The thread-sanitizer build compiles the host's and the tools' sources file
# by file, so a file that lacks an include of its own still fails there, and
# clang-tidy reads their commands; only its test programs are unity builds.
unity=(-DCMAKE_UNITY_BUILD=ON)

# The plain build keeps line tables only: stack traces keep their file and
# line, and compiling takes a good deal less than with full debug records.
# Its test programs are compiled without optimisation (the host, the tools
# and the libraries they test keep -O2): they are most of the compiling,
# and optimising them tests nothing more.
plain_flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" -DVORNETH_TEST_COMPILE_OPTIONS=-O0)

# The sanitizer builds compile with -O1 and line tables only: stack traces
# keep their file and line, and compiling takes half the time of -O2 -g;
# their test programs, as the plain build's, are compiled without optimisation.
sanitizer_flags=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" "-DCMAKE_C_FLAGS_DEBUG=-O1 -g1"
  -DVORNETH_TEST_COMPILE_OPTIONS=-O0)

# The thread sanitizer build is also the Clang build in which the lock
# annotations are checked (-Wthread-safety as an error), and its compile
# commands are clang-tidy's: one Clang build serves all three.
configure_clang_tsan() {
  configure build-tsan "${sanitizer_flags[@]}" -DVORNETH_SANITIZE=thread -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-Wthread-safety -DVORNETH_UNITY_TESTS=ON
}

# The layers and the links, checked on every include of src/, tools/ and
# quenlog/: a file includes headers of its own layer or lower ones, of its
# own library or of one it links (tools/check_layers.py says how it reads
# the build files). Each include that breaks them is named; any fails.
run_layer_check() {
  install_packages python3
  log "layer check"
  python3 "$root/tools/check_layers.py" --root "$root"
}

# The written style, checked: the format (any difference fails), the layers
# of the includes, clang-tidy on every source file of src/, tools/ and
# quenlog/ with the checks .clang-tidy names (all of them errors), and the
# Clang build of the host and the tools with the lock annotations checked.
# The tests are built in that folder later, by the thread sanitizer step of
# `test`.
run_checks() {
  install_packages "${build_packages[@]}" "${check_packages[@]}"
  local started=$SECONDS
  log "format check"
  source_files | xargs clang-format --dry-run --Werror
  run_layer_check

  log "clang build: thread-safety analysis"
  configure_clang_tsan
  ninja -C "$root/build-tsan" -j"$jobs" vorneth-host vorneth-cli vorneth-pack

  log "clang-tidy"
  run-clang-tidy -p "$root/build-tsan" -j"$jobs" -quiet "$root/(src|tools|quenlog)/.*\.cpp\$" >"$root/build-tsan/tidy.log" 2>&1 ||
    { grep -E -A3 'warning:|error:' "$root/build-tsan/tidy.log"; return 1; }
  log "style checks took $((SECONDS - started)) s"
}

run_demo() {
  install_packages "${build_packages[@]}"
  configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNETH_TESTS=ON
  ninja -C "$root/build" -j"$jobs" vorneth-host vorneth-cli vorneth-pack example
  demo_data=$(mktemp -d)
  trap 'rm -rf "$demo_data"' EXIT
  local data=$demo_data/data packages=$demo_data/packages
  mkdir -p "$data" "$packages"

  log "packing the SDK's example add-on (sdk/example), signed with the development key"
  "$root/build/bin/vorneth-pack" pack --key "$root/tests/keys/development-private.pem" --uuid '{example}' \
    --version 1.0 --name "Vorneth example" --description "The SDK's example add-on" \
    "$root/build/sdk/example/example" "$packages/example.pkg"
  ls -l "$packages"

  log "a page session through vorneth-cli (data folder $data); --create sends the \"Create\" of" \
    "https://demo.example/page first, which the host does not answer"
  local page='{"type":"Vorneth","portId":"1","command":'
  demo_requests "$page" "file://$packages/" |
    XDG_DATA_HOME=$data "$root/build/bin/vorneth-cli" --pretty --create https://demo.example/page --settle-ms 1000
  log "the add-on as installed"
  find "$data/Vorneth/addons" -type f | sed "s|^$data/||"
}

# The demo's requests, one a line, each after a step title on standard
# error and a pause, so that its answers are printed before the next title.
demo_requests() {
  local page=$1 base=$2
  demo_step "install the add-on from $base (an event per package, then [200])" \
    "$page\"InstallAddOns\",\"callbackId\":\"1\",\"params\":[\"$base\",[{\"packageURL\":\"example.pkg\",\"packageUUID\":\"{example}\",\"packageVersion\":\"1.0\"}]]}"
  demo_step "create an instance (its style and script first, then its id)" \
    "$page\"CreateAddOnInstance\",\"callbackId\":\"2\",\"params\":[\"{example}\",\"1.0\"]}"
  demo_step "invoke \"add\" with {\"a\":1,\"b\":2}" \
    "$page\"InvokeAddOnInstance\",\"callbackId\":\"3\",\"params\":[0,\"add\",\"{\\\"a\\\":1,\\\"b\\\":2}\"]}"
  demo_step "invoke \"about\": the page's domain and the add-on's folder" \
    "$page\"InvokeAddOnInstance\",\"callbackId\":\"4\",\"params\":[0,\"about\",\"\"]}"
  demo_step "register for its \"tick\" event" \
    "$page\"RegisterAddOnEvent\",\"callbackId\":\"5\",\"params\":[0,\"tick\"]}"
  demo_step "start one tick: the answer, then the event from the add-on's own thread" \
    "$page\"InvokeAddOnInstance\",\"callbackId\":\"6\",\"params\":[0,\"startTicks\",\"{\\\"count\\\":1,\\\"intervalMs\\\":200}\"]}"
  demo_step "dispose of the instance" \
    "$page\"DisposeAddOnInstance\",\"callbackId\":\"7\",\"params\":[0,\"{example}\",\"1.0\"]}"
}

demo_step() {
  sleep 1
  printf '\n-- %s\n' "$1" >&2
  printf '%s\n' "$2"
}

# The two Windows builds, from the same sources: the 32-bit host that users
# install, in build-win/, and a 64-bit one in build-win64/, each with its
# toolchain file (cmake/mingw-<target>.cmake) and its own build of the
# dependencies. windows_dir and windows_target name them by word size.
windows_dir() { if [ "$1" = 64 ]; then echo build-win64; else echo build-win; fi; }
windows_target() { if [ "$1" = 64 ]; then echo x86_64; else echo i686; fi; }
windows_installer() { echo "$root/$(windows_dir "$1")/vorneth-$(project_version)-win$1-setup.exe"; }

# configure_windows <32|64> [cmake arguments...]: the dependencies (cached),
# then the build folder.
configure_windows() {
  local bits=$1 dir target
  shift
  dir=$(windows_dir "$bits")
  target=$(windows_target "$bits")
  "$root/tools/windows-deps.sh" "$root/$dir/deps" "$target"
  configure "$dir" -DCMAKE_BUILD_TYPE=Release "${unity[@]}" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$target.cmake" \
    -DVORNETH_WINDOWS_DEPS="$root/$dir/deps" -DVORNETH_TESTS=ON -DVORNETH_TEST_COMPILE_OPTIONS=-O0 "$@"
}

# build_windows <32|64> <target...>: those targets of that Windows build,
# cross-compiled: "all" is the host, the tools, the logging library, the
# example add-on and the tests; "vorneth-installer example" the installer
# (with the host, the tools and the logging library) and the example alone.
# Every executable lands in the build's bin/.
build_windows() {
  local bits=$1 started=$SECONDS
  shift
  log "$bits-bit windows build: $*"
  enable_i386
  install_packages "${windows_packages[@]}"
  configure_windows "$bits"
  ninja -C "$root/$(windows_dir "$bits")" -j"$jobs" "$@"
  log "$bits-bit windows build took $((SECONDS - started)) s"
}

# Wine's two loaders, where Debian's wine puts them (it puts no wine64 on
# the PATH); wine_loader <32|64> names the one for that build's programs.
# VORNETH_WINE_LIBRARY names another folder, for the check of
# choose_windows_tests (tests/tools/windows_choice_test.sh).
wine_library=${VORNETH_WINE_LIBRARY:-/usr/lib/wine}
wine_loader() { if [ "$1" = 64 ]; then echo "$wine_library/wine64"; else echo "$wine_library/wine"; fi; }

# use_wine_loader <32|64>: the programs of that build run under its loader:
# VORNETH_HOST_LAUNCHER names it for the tests and the scripts they run;
# for wine64, as Debian's wine script does, WINELOADER too, so that the
# processes wine starts use it as well.
use_wine_loader() {
  export VORNETH_HOST_LAUNCHER
  VORNETH_HOST_LAUNCHER=$(wine_loader "$1")
  if [ "$1" = 64 ]; then export WINELOADER=$VORNETH_HOST_LAUNCHER; else unset WINELOADER; fi
}

# Which Windows build this machine can test, by starting wine's loaders:
# some kernels run no 32-bit program at all ("Exec format error" from the
# 32-bit loader), and which kernel a machine gets is not ours to choose.
# Sets windows_bits (32 where the 32-bit loader runs, else 64) and says so
# in one line; fails, saying why, where neither loader runs, so that no run
# passes without its Windows tests.
windows_bits=""
choose_windows_tests() {
  local why32 why64
  if why32=$("$(wine_loader 32)" --version 2>&1); then
    windows_bits=32
    log "windows tests: against the 32-bit build (build-win/) under wine's 32-bit loader"
  elif why64=$("$(wine_loader 64)" --version 2>&1); then
    windows_bits=64
    log "windows tests: against the 64-bit build (build-win64/) under wine64, since this machine runs" \
      "no 32-bit program ($(wine_loader 32): ${why32##*: }); the 32-bit build is compiled and linked only"
  else
    echo "dev.sh: no Windows test can run on this machine: $(wine_loader 32) gives '${why32##*: }'" \
      "and $(wine_loader 64) gives '${why64##*: }' (install wine, wine32:i386 and wine64," \
      "or run tools/dev.sh test --linux-only)" >&2
    return 1
  fi
}

# run_windows_tests <32|64>: the tests of that Windows build under its
# loader: its platform unit tests through ctest (the toolchain file makes
# that loader the emulator), then the end-to-end tests of build/ against
# the .exe, all in a 64-bit prefix (the 32-bit host runs there as under
# WoW64 on real 64-bit Windows); then each installer this machine can run.
run_windows_tests() {
  local bits=$1 started=$SECONDS
  local build=$root/$(windows_dir "$bits")
  export WINEPREFIX=$build/wineprefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY
  use_wine_loader "$bits"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$VORNETH_HOST_LAUNCHER" wineboot --init >/dev/null 2>&1
    # A fresh prefix detects proxies automatically, which sends discovery
    # traffic off the machine: use direct connections.
    "$VORNETH_HOST_LAUNCHER" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections' \
      /v DefaultConnectionSettings /t REG_BINARY /d 460000000100000001000000000000000000000000000000 /f >/dev/null 2>&1
  fi
  # One wine server and its services for the whole run, started here with
  # none of our standard streams: a cold start in every test costs seconds,
  # and services that a test started would hold ctest's pipes open.
  # A server still running for the prefix set-up cannot be made persistent:
  # end it first.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -p60 </dev/null >/dev/null 2>&1
  "$VORNETH_HOST_LAUNCHER" cmd /c exit </dev/null >/dev/null 2>&1 || true
  local status=0
  log "$bits-bit windows build: platform unit tests under wine"
  (cd "$build" && ctest --output-on-failure --timeout 300) || status=$?
  # The download tests put their test authority into the prefix's trusted
  # roots with add_root_certificate.exe and set its proxy settings with
  # tests/support/wine_proxy_settings.sh, undoing both at their end; they
  # change the prefix, so these tests run one at a time.
  log "$bits-bit windows build: end-to-end tests under wine"
  (cd "$root/build" &&
    VORNETH_HOST_UNDER_TEST="$build/bin/vorneth-host.exe" \
    VORNETH_HOST_DATA_DIRECTORY="$WINEPREFIX/drive_c/users/$(id -un)/AppData/LocalLow/Vorneth" \
    VORNETH_WINDOWS_TRACE_LIBRARY="$build/tests/support/quenlog/Quenlog.dll" \
    VORNETH_WINDOWS_QUENLOG="$build/quenlog/Quenlog.dll" \
    VORNETH_WINDOWS_CLI="$build/bin/vorneth-cli.exe" \
    VORNETH_WINDOWS_REGISTER="$build/bin/vorneth-register.exe" \
    VORNETH_WINDOWS_ADD_ROOT_CERTIFICATE="$build/bin/add_root_certificate.exe" \
    VORNETH_WINDOWS_TEST_ADDONS="$build/tests/addons/libraries" \
    VORNETH_WINDOWS_LOCK_PROBE="$build/bin/file_lock_probe.exe" \
    ctest -R '^(HostTest|HostStreamsTest|HostTraceTest|WindowsTraceTest|QuenlogHostTest|CliTest|RegisterWindowsTest|InstallTest|DownloadTest|AddonTest|StoreFaultsTest)[.]' \
      --output-on-failure --timeout 300) || status=$?
  if [ "$bits" = 32 ]; then
    run_installer_test 32 || status=$?
  else
    log "32-bit windows installer: test skipped, this machine runs no 32-bit program"
  fi
  run_installer_test 64 || status=$?
  wineserver -k 2>/dev/null || true
  log "$bits-bit windows tests took $((SECONDS - started)) s"
  return $status
}

# run_installer_test <32|64>: that installer, itself a program of that word
# size, for the user and for all users, silently under its loader in the
# prefix of run_windows_tests, then uninstalled.
run_installer_test() {
  local bits=$1 started=$SECONDS
  log "$bits-bit windows installer: for the user and for all users, silently under wine, then uninstalled"
  (
    use_wine_loader "$bits"
    "$root/packaging/tests/windows_installer_test.sh" "$(windows_installer "$bits")" "$(project_version)" \
      "$(extension_id)" "$bits"
  ) || return 1
  log "$bits-bit windows installer test took $((SECONDS - started)) s"
}

# The version and the extension identifier the packages carry, as the build
# files name them.
project_version() { sed -n 's/^project(vorneth-host VERSION \([0-9.]*\) .*/\1/p' "$root/CMakeLists.txt"; }
extension_id() { sed -n 's/^set(VORNETH_EXTENSION_ID \(.*\))$/\1/p' "$root/packaging/VornethPackaging.cmake"; }

# The .deb of a build folder (cpack), into <build>/packages/.
build_deb() {
  local dir=$1
  rm -rf "$root/$dir/packages"
  (cd "$root/$dir" && cpack -G DEB -B "$root/$dir/packages" >"$root/$dir/cpack.log" 2>&1) ||
    { cat "$root/$dir/cpack.log" >&2; return 1; }
  ls "$root/$dir/packages/"vorneth_*.deb
}

# The .deb, from the plain build (stripped, as in a Release build), on this
# machine: dpkg -i, the registration it made, vorneth-register check, a
# round trip to the installed host, the installed SDK, then dpkg -r and
# --purge leaving nothing behind. Needs root: skipped otherwise.
run_package_tests() {
  if [ "$(id -u)" -ne 0 ]; then
    log "the .deb test: skipped (needs root for dpkg -i)"
    return 0
  fi
  install_packages "${deb_packages[@]}"
  local started=$SECONDS deb
  log "the .deb: built, installed, checked and removed"
  deb=$(build_deb build)
  "$root/packaging/tests/deb_package_test.sh" "$deb" "$(project_version)" "$(extension_id)" "$root"
  log "the .deb test took $((SECONDS - started)) s"
}

# Both packages, from a Release build and the Windows build, into
# build-packages/; the arguments go to both configurations.
run_package() {
  install_packages "${build_packages[@]}" "${deb_packages[@]}"
  local out=$root/build-packages
  rm -rf "$out"
  mkdir -p "$out"
  configure build-release -DCMAKE_BUILD_TYPE=Release -DVORNETH_TESTS=OFF "$@"
  ninja -C "$root/build-release" -j"$jobs"
  cp "$(build_deb build-release)" "$out/"
  enable_i386
  install_packages "${windows_packages[@]}"
  for bits in 32 64; do
    configure_windows "$bits" "$@"
    ninja -C "$root/$(windows_dir "$bits")" -j"$jobs" vorneth-installer
    cp "$(windows_installer "$bits")" "$out/"
  done
  log "packages in $out"
  ls -l "$out"
}

# The address+undefined sanitizer build, for the tests and the soak run.
configure_asan() {
  # The folder may hold an earlier build with another compiler.
  grep -qs 'CMAKE_CXX_COMPILER:[A-Z]*=.*clang' "$root/build-asan/CMakeCache.txt" || rm -rf "$root/build-asan"
  configure build-asan "${sanitizer_flags[@]}" "${unity[@]}" -DVORNETH_SANITIZE=address -DVORNETH_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
}

# The packages only the tests and the Windows build need (the browser, wine,
# the cross compiler: most of the installing on a new machine). As root, a
# background job downloads them while the style checks and the plain build
# compile, and wait_for_test_packages installs them after that job: only
# the download overlaps, since unpacking upgrades shared libraries (wine's
# i386 ones pull their amd64 twins along) under programs being started,
# such as cmake. Not as root: sudo may ask for a password, which a
# background job cannot be given, so everything is installed at once.
test_packages_wanted=()
start_test_packages() {
  local windows=$1
  test_packages_wanted=("${test_packages[@]}" locales "${deb_packages[@]}")
  [ "$windows" -eq 1 ] && test_packages_wanted+=("${windows_packages[@]}")
  if [ "$(id -u)" -ne 0 ]; then
    [ "$windows" -eq 1 ] && enable_i386
    install_packages "${test_packages_wanted[@]}"
    return 0
  fi
  start_job "downloading the test packages" download_test_packages "$windows"
}

download_test_packages() {
  [ "$1" -eq 1 ] && enable_i386
  install_packages --download-only "${test_packages_wanted[@]}"
}

wait_for_test_packages() {
  finish_job "downloading the test packages"
  install_packages "${test_packages_wanted[@]}"
}

# Jobs in the background, their output kept aside and printed when they are
# waited for. start_job <name> <command...> starts one; finish_job <name>
# waits for it (nothing when it was never started) and fails, saying so,
# when it failed. Each waits for its own process only.
declare -A job_pids=() job_logs=()
start_job() {
  local name=$1
  shift
  job_logs[$name]=$(mktemp)
  log "$name: in the background (output in ${job_logs[$name]})"
  "$@" >"${job_logs[$name]}" 2>&1 &
  job_pids[$name]=$!
}

finish_job() {
  local name=$1 status=0
  [ -n "${job_pids[$name]:-}" ] || return 0
  wait "${job_pids[$name]}" || status=$?
  unset "job_pids[$name]"
  log "$name: its output"
  cat "${job_logs[$name]}"
  rm -f "${job_logs[$name]}"
  [ $status -eq 0 ] || { echo "dev.sh: $name failed" >&2; return 1; }
}

# The dependencies of both Windows builds (tools/windows-deps.sh, cached by
# version): built in the background while the plain build's tests run, which
# mostly wait; the two at once, since most of their steps keep one
# processor busy.
build_windows_deps() {
  local pids=() status=0
  for bits in 32 64; do
    "$root/tools/windows-deps.sh" "$root/$(windows_dir "$bits")/deps" "$(windows_target "$bits")" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
  return $status
}

run_tests() {
  local windows=1
  [ "${1:-}" = "--linux-only" ] && windows=0
  install_packages "${build_packages[@]}" "${check_packages[@]}"
  local started=$SECONDS
  start_test_packages $windows

  run_checks

  log "plain build: every test"
  configure build "${plain_flags[@]}" "${unity[@]}"
  ninja -C "$root/build" -j"$jobs"
  wait_for_test_packages
  if [ $windows -eq 1 ]; then
    # Before the long builds: a machine that can run no Windows test fails here.
    choose_windows_tests
    start_job "the windows dependencies" build_windows_deps
  fi
  (cd "$root/build" && ctest -j"$test_jobs" -LE browser --output-on-failure --timeout 300)
  finish_job "the windows dependencies"
  # Alone, so that its figures are not taken while other tests run, and
  # verbose, so that they are printed.
  log "plain build: the real-browser test"
  (cd "$root/build" && ctest -L browser --verbose --timeout 300)
  run_package_tests

  # Both Windows builds are compiled on every machine: the tested one
  # whole, the other one without its tests (its installer is tested where
  # it runs). The tests under wine keep one processor busy at most: they
  # run in the background, beside the sanitizer builds.
  if [ $windows -eq 1 ]; then
    local other_bits=64
    [ "$windows_bits" = 32 ] || other_bits=32
    build_windows "$windows_bits" all vorneth-installer
    build_windows "$other_bits" vorneth-installer example
    start_job "the windows tests under wine" run_windows_tests "$windows_bits"
  else
    log "windows build: switched off (--linux-only)"
  fi

  run_address_sanitizer_tests
  run_thread_sanitizer_tests

  finish_job "the windows tests under wine"
  log "all tests passed in $((SECONDS - started)) s"
}

# The leak checks' options: the reports that tools/lsan-suppressions.txt
# says the sanitizer cannot judge are left out.
lsan_options=suppressions=$root/tools/lsan-suppressions.txt

# The address+undefined sanitizer build is Clang's, with the fuzz targets:
# every test, then each fuzz target for 20 s from its seed corpus, as a
# regression run.
run_address_sanitizer_tests() {
  log "address+undefined sanitizer build (Clang, with the fuzz targets): every test"
  configure_asan
  ninja -C "$root/build-asan" -j"$jobs"
  (cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=$lsan_options \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest -j"$test_jobs" --output-on-failure --timeout 300)
  log "fuzz targets: 20 s each from their seed corpora"
  run_fuzzers build-asan 20
}

run_thread_sanitizer_tests() {
  log "thread sanitizer build (Clang): every test"
  configure_clang_tsan
  ninja -C "$root/build-tsan" -j"$jobs"
  (cd "$root/build-tsan" && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tools/tsan-suppressions.txt \
    ctest -j"$test_jobs" --output-on-failure --timeout 300)
}

# The fuzz build (Clang, libFuzzer with the address and undefined
# sanitizers), in build-fuzz/: the fuzz targets alone.
build_fuzzers() {
  install_packages "${build_packages[@]}" "${check_packages[@]}"
  configure build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1" \
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DVORNETH_FUZZ=ON -DVORNETH_TESTS=OFF
  ninja -C "$root/build-fuzz" -j"$jobs" fuzzers
}

# run_fuzzers <build folder> <seconds>: every fuzz target of that build for that long, as many at once as
# there are processors, each from a copy of its seed corpus (libFuzzer adds
# what it finds to its folder; the tree's corpus stays as it is). A crash,
# a leak, a sanitizer report or a hang fails the run; the input that caused
# it is kept in <build folder>/fuzz-findings/. Prints each target's executions, rate
# and coverage.
run_fuzzers() {
  local build=$root/$1 seconds=$2
  local out=$build/fuzz-runs
  rm -rf "$out"
  mkdir -p "$out" "$build/fuzz-findings"
  local targets=() batch=() failed=0
  for target in "$build"/bin/fuzz_*; do targets+=("$(basename "$target")"); done
  log "fuzzing ${#targets[@]} targets for ${seconds} s each, $jobs at a time"
  # Every target runs equally long, so batches of $jobs lose nothing; each
  # batch waits for its own processes only (the shell may have other
  # background jobs, such as the tests under wine).
  for target in "${targets[@]}"; do
    cp -r "$root/fuzz/corpus/${target#fuzz_}" "$out/$target.corpus"
    (
      cd "$out"
      rc=0
      ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=$lsan_options "$build/bin/$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2560 -print_final_stats=1 -artifact_prefix="$build/fuzz-findings/$target-" \
        "$target.corpus" >"$target.log" 2>&1 || rc=$?
      echo $rc >"$target.rc"
    ) &
    batch+=($!)
    if [ ${#batch[@]} -ge "$jobs" ]; then
      wait "${batch[@]}"
      batch=()
    fi
  done
  [ ${#batch[@]} -eq 0 ] || wait "${batch[@]}"
  for target in "${targets[@]}"; do fuzz_summary "$out/$target.log" "$target"; done
  for target in "${targets[@]}"; do
    [ "$(cat "$out/$target.rc")" = 0 ] && continue
    echo "== $target failed; its log ends:"
    tail -60 "$out/$target.log"
    failed=1
  done
  return $failed
}

# One line per target: executions, their rate, coverage and corpus size.
fuzz_summary() {
  local log=$1 target=$2 runs rate cov
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' "$log" | tail -1)
  printf '%-28s %12s runs %8s/s   %s\n' "$target" "${runs:-?}" "${rate:-?}" "${cov:-}"
}

run_fuzz() {
  local minutes=${1:-10}
  # libFuzzer takes 0 as "no limit".
  [[ $minutes =~ ^[1-9][0-9]*$ ]] || { echo "dev.sh fuzz: minutes must be a whole number from 1 on" >&2; return 2; }
  build_fuzzers
  run_fuzzers build-fuzz $((minutes * 60))
}

# The soak run (tests/soak/soak_main.cpp says what it does) against the
# host of the address+undefined sanitizer build; the driver prints the
# hosts' resources minute by minute and fails on a missing, duplicate or
# unexpected message, a grown resource or a sanitizer report.
run_soak() {
  local minutes=${1:-30}
  [[ $minutes =~ ^[1-9][0-9]*$ ]] || { echo "dev.sh soak: minutes must be a whole number from 1 on" >&2; return 2; }
  install_packages "${build_packages[@]}"
  configure_asan
  ninja -C "$root/build-asan" -j"$jobs" vorneth-soak
  log "soak: $minutes minutes of mixed traffic against build-asan/bin/vorneth-host"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=$lsan_options UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$root/build-asan/bin/vorneth-soak" "$minutes"
}

# The Google benchmarks, then host_vs_minimal (bench/host_vs_minimal.cpp):
# the host against the minimal host of bench/minimal_host.cpp, instructions
# counted under valgrind's callgrind.
run_bench() {
  install_packages "${build_packages[@]}" libbenchmark-dev valgrind
  configure build-bench -DCMAKE_BUILD_TYPE=Release -DVORNETH_TESTS=OFF -DVORNETH_BENCH=ON
  ninja -C "$root/build-bench" -j"$jobs"
  for bench in "$root"/build-bench/bin/*_bench; do
    log "$(basename "$bench")"
    "$bench"
  done
  log "host_vs_minimal"
  "$root/build-bench/bin/host_vs_minimal"
}

case "${1:-}" in
  demo) run_demo ;;
  test) run_tests "${2:-}" ;;
  windows-choice) choose_windows_tests ;;
  check) run_checks ;;
  format) run_format ;;
  bench) run_bench ;;
  fuzz) run_fuzz "${2:-10}" ;;
  soak) run_soak "${2:-30}" ;;
  package)
    shift
    run_package "$@"
    ;;
  *)
    sed -n '2,46p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
