#!/usr/bin/env bash
# Shows counters reaching a reader: builds what it needs, starts the sample
# host in a private platform root (a private Wine prefix with --windows),
# shows perfquery's table of the host's sessions refreshing, and, where it
# is built, the metrics page of perf_exporter; then stops what it started
# and removes its temporary folder.
#   scripts/demo.sh             the POSIX build over the platform layer
#   scripts/demo.sh --windows   the Windows build under Wine
set -euo pipefail
cd "$(dirname "$0")/.."
here=$PWD

usage() {
  cat <<'EOF'
Usage: scripts/demo.sh [--windows]
  (none)     build the POSIX target and run the demo natively
  --windows  build the Windows target and run the demo under Wine
Installs missing packages first (scripts/setup.sh). Exit status: 0 done,
1 a step failed, 2 wrong usage.
EOF
}

windows=0
case "${1:-}" in
  "") ;;
  --windows) windows=1 ;;
  --help | -h) usage; exit 0 ;;
  *) echo "demo: unknown argument '$1'" >&2; usage >&2; exit 2 ;;
esac
[ $# -le 1 ] || { echo "demo: one argument at most" >&2; usage >&2; exit 2; }

step() { printf '\n== %s\n' "$*"; }
fail() { echo "demo: $*" >&2; exit 1; }

root=$(mktemp -d /tmp/rv-demo-XXXXXX)
host_pid=""
cleanup() {
  local status=$?
  if [ -n "$host_pid" ] && kill -0 "$host_pid" 2>/dev/null; then
    kill -TERM "$host_pid" 2>/dev/null || true
    wait "$host_pid" 2>/dev/null || true
  fi
  if [ "$windows" = 1 ] && [ -d "$root/prefix" ]; then
    "$here/scripts/wine-run" "$root/prefix" --stop || true
  fi
  rm -rf "$root"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

step "packages (scripts/setup.sh)"
bash scripts/setup.sh

preset=linux
targets=(rvZedaZuvivurAzodav rvCompanion rvPerfCollector sample_host perfquery)
if [ "$windows" = 1 ]; then
  preset=windows
else
  targets+=(regsvr32 lodctr unlodctr)
fi
build=build/$preset
bin=$here/$build/bin
step "building the $preset target: ${targets[*]}"
[ -f "$build/CMakeCache.txt" ] || cmake --preset "$preset" >/dev/null
# The list is read whole: grep -q stopping early would end ninja with SIGPIPE.
known_targets=$(cmake --build "$build" --target help)
if grep -q '^perf_exporter:' <<<"$known_targets"; then targets+=(perf_exporter); fi
cmake --build "$build" -j2 --target "${targets[@]}"

# The host registers into a folder of its own, so the build folder keeps no
# header or INI file of the demo.
mkdir "$root/sample"
cp "$bin/sample/RVCounters.xml" "$root/sample/"

if [ "$windows" = 1 ]; then
  windows_path() { echo "Z:$(realpath "$1" | tr '/' '\\')"; }
  run() { "$here/scripts/wine-run" "$root/prefix" "$@"; }
  step "a private Wine prefix (the first one takes a minute)"
  run --init
  run regsvr32 /s "$(windows_path "$bin/rvZedaZuvivurAzodav.dll")" || fail "regsvr32 could not register the component"
  run regsvr32 /s "$(windows_path "$bin/rvCompanion.dll")" || fail "regsvr32 could not register the companion module"
  host=(run "$bin/sample_host.exe" --definitions "$(windows_path "$root/sample")")
  perfquery=(run "$bin/perfquery.exe")
  # Wine's lodctr installs no names: the collector numbers from 10000, and
  # the objects' IDs (0 and 10, in file order) follow.
  sessions=10000
  memory=10010
  # Wine ends on a signal without the host's own clean-up, so the host stops by itself.
  host+=(--duration 20)
else
  export WINPLATFORM_ROOT=$root/platform
  mkdir "$WINPLATFORM_ROOT"
  step "registering the component and its companion module in a private platform root ($WINPLATFORM_ROOT)"
  "$bin/regsvr32" /s "$bin/rvZedaZuvivurAzodav.so" || fail "regsvr32 could not register the component"
  "$bin/regsvr32" /s "$bin/rvCompanion.so" || fail "regsvr32 could not register the companion module"
  host=("$bin/sample_host" --definitions "$root/sample" --duration 120)
  perfquery=("$bin/perfquery")
  sessions="RV Sample Sessions"
  memory="RV Sample Memory"
fi

step "starting the sample host: ${host[*]}"
"${host[@]}" >"$root/host.log" 2>&1 &
host_pid=$!
for _ in $(seq 1 200); do
  if "${perfquery[@]}" "$sessions" >/dev/null 2>&1; then break; fi
  kill -0 "$host_pid" 2>/dev/null || { cat "$root/host.log"; fail "the sample host stopped before publishing"; }
  sleep 0.2
done
"${perfquery[@]}" "$sessions" >/dev/null 2>&1 || { cat "$root/host.log"; fail "no reader sees the sample host's sessions"; }

step "perfquery: the objects"
"${perfquery[@]}"
step "perfquery \"$sessions\" -i 1 -n 4"
"${perfquery[@]}" "$sessions" -i 1 -n 4
step "perfquery \"$memory\""
"${perfquery[@]}" "$memory"

if [ -x "$bin/perf_exporter" ] || [ -f "$bin/perf_exporter.exe" ]; then
  step "perf_exporter --once"
  if [ "$windows" = 1 ]; then
    run "$bin/perf_exporter.exe" --once || fail "perf_exporter failed"
  else
    "$bin/perf_exporter" --once || fail "perf_exporter failed"
  fi
fi

step "stopping the sample host"
if [ "$windows" = 1 ]; then
  wait "$host_pid" || { cat "$root/host.log"; fail "the sample host failed"; }
else
  kill -TERM "$host_pid"
  wait "$host_pid" || { cat "$root/host.log"; fail "the sample host failed"; }
fi
host_pid=""
tail -n 4 "$root/host.log" | tr -d '\r'
if [ "$windows" = 1 ]; then
  run "$bin/sample_host.exe" --definitions "$(windows_path "$root/sample")" --unregister
else
  "$bin/sample_host" --definitions "$root/sample" --unregister
fi
step "done"
