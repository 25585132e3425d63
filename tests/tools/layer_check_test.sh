#!/usr/bin/env bash
# tools/check_layers.py on a small tree of its own, laid out as the real one
# (layers added in order by the top-level CMakeLists.txt, libraries declared
# with vorneth_library, a link on Windows only, a PRIVATE link, a tool on
# top): the clean tree passes, and each include planted into a copy of it
# fails the check, named with its file and line, and nothing else does.
#
#   layer_check_test.sh CHECK_LAYERS_PY
set -uo pipefail

check_layers=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
clean=$work/clean-tree

# put <path> <line>...: a file of the clean tree.
put() {
  mkdir -p "$(dirname "$clean/$1")"
  printf '%s\n' "${@:2}" >"$clean/$1"
}

put CMakeLists.txt 'add_subdirectory(src/platform)' 'add_subdirectory(src/json)' 'add_subdirectory(src/net)' \
  'add_subdirectory(tools)'
put src/platform/CMakeLists.txt \
  'vorneth_library(vorneth_platform SOURCES status.cpp POSIX file_posix.cpp WIN32 file_win32.cpp)'
put src/platform/status.h '#pragma once'
put src/platform/status.cpp '#include "platform/status.h"'
put src/platform/file.h '#include "platform/status.h"'
put src/platform/file_posix.cpp '#include "platform/file.h"'
put src/platform/file_win32.cpp '#include "platform/file.h"'
put src/json/CMakeLists.txt 'vorneth_library(vorneth_json SOURCES writer.cpp LINK vorneth_platform)'
put src/json/writer.h '#include "platform/status.h"'
put src/json/writer.cpp '#include "json/writer.h"'
put src/net/CMakeLists.txt \
  '# Two libraries in one folder; the client links the system services on Windows only.' \
  'vorneth_library(vorneth_system SOURCES transport.cpp LINK vorneth_platform)' \
  'vorneth_library(vorneth_net SOURCES client.cpp WIN32 client_win32.cpp LINK vorneth_json vorneth_platform)' \
  'if(WIN32)' '  target_link_libraries(vorneth_net PUBLIC vorneth_system)' 'endif()'
put src/net/transport.h '#include "platform/status.h"'
put src/net/transport.cpp '#include "net/transport.h"'
put src/net/client.h '#include "json/writer.h"' '#include "platform/file.h"'
# No source of its own: the folder's namesake library's.
put src/net/types.h '#include "platform/status.h"'
put src/net/client.cpp '#include "net/client.h"'
put src/net/client_win32.cpp '#include "net/transport.h"'
put tools/CMakeLists.txt 'add_subdirectory(common)' 'add_executable(vorneth-cli cli/main.cpp cli/options.cpp)' \
  'target_link_libraries(vorneth-cli PRIVATE vorneth_process)'
put tools/common/CMakeLists.txt 'vorneth_library(vorneth_process SOURCES process.cpp LINK vorneth_platform)' \
  'target_link_libraries(vorneth_process PRIVATE vorneth_json)'
put tools/common/process.h '#include "platform/status.h"'
put tools/common/process.cpp '#include "common/process.h"' '#include "json/writer.h"'
put tools/cli/options.h '#include "common/process.h"'
put tools/cli/options.cpp '#include "options.h"'
put tools/cli/main.cpp '#include "options.h"' '#include "platform/status.h"'

# check <case> <file> <include planted at its end> <exit status> <expected output>
# The case's tree is a copy of the clean one; an empty <file> plants nothing.
check() {
  local tree=$work/case-$1 output status=0
  cp -r "$clean" "$tree"
  [ -z "$2" ] || printf '#include "%s"\n' "$3" >>"$tree/$2"
  output=$(python3 "$check_layers" --root "$tree" 2>&1) || status=$?
  if [ "$status" -ne "$4" ] || [ "$output" != "$5" ]; then
    printf '%s: exit status %d (expected %d), output:\n%s\nexpected:\n%s\n' "$1" "$status" "$4" "$output" "$5"
    failed=1
  fi
}

check clean "" "" 0 ""
check upward src/json/writer.cpp net/client.h 1 \
  "src/json/writer.cpp:2: vorneth_json includes net/client.h (net is above json in the layers)"
check tool-from-src src/platform/file.h common/process.h 1 \
  "src/platform/file.h:2: vorneth_platform includes common/process.h (tools is above platform in the layers)"
check linked-on-windows-only src/net/client.cpp net/transport.h 1 \
  "src/net/client.cpp:2: vorneth_net includes net/transport.h (it belongs to vorneth_system, which vorneth_net does not link on Linux)"
check private-link tools/cli/options.h json/writer.h 1 \
  "tools/cli/options.h:2: vorneth-cli includes json/writer.h (it belongs to vorneth_json, which vorneth-cli does not link)"
check same-layer-other-library src/net/transport.h net/types.h 1 \
  "src/net/transport.h:2: vorneth_system includes net/types.h (it belongs to vorneth_net, which vorneth_system does not link)"
exit $failed
