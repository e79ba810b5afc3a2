#!/bin/sh
# Velmora's whole job is one or two system calls, so what it costs is its process
# start. This times "Velmora -G" against an empty program built with the same
# toolchain, in interleaved rounds, and prints min, median and max of each and
# the ratio Velmora / empty.
#
# Usage: bench/startup.sh [--rounds R] [--runs N] sim|wine|all
#   sim   build/sim/Velmora on the simulated system
#   wine  build/win32/Velmora.exe under Wine, the Wine server kept warm
# Build the presets first (cmake --workflow --preset sim / win32); SIM_BUILD and
# WIN32_BUILD name other build folders.
set -eu

rounds=100 runs=3 wine_rounds=3 wine_runs=1
while [ $# -gt 1 ]; do
    case $1 in
    --rounds) rounds=$2 wine_rounds=$2; shift 2 ;;
    --runs) runs=$2 wine_runs=$2; shift 2 ;;
    *) break ;;
    esac
done
target=${1:-all}
root=$(cd "$(dirname "$0")/.." && pwd)
sim_build=${SIM_BUILD:-$root/build/sim}
win32_build=${WIN32_BUILD:-$root/build/win32}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmora-bench-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# measure NAME ROUNDS RUNS TOOL EMPTY [RUNNER]: rounds of hyperfine, each timing
# both programs, so that drift on the machine falls on both alike.
measure() {
    name=$1 n_rounds=$2 n_runs=$3 tool=$4 empty=$5 runner=${6:-}
    round=1
    while [ "$round" -le "$n_rounds" ]; do
        hyperfine -N --ignore-failure --style none --warmup 1 --runs "$n_runs" \
            --export-json "$scratch/$name-$round.json" \
            -n Velmora "${runner:+$runner }$tool -G" -n empty "${runner:+$runner }$empty" \
            >/dev/null 2>"$scratch/hyperfine.log" || {
            cat "$scratch/hyperfine.log" >&2
            exit 1
        }
        round=$((round + 1))
    done
    python3 - "$name" "$scratch" <<'PY'
import glob, json, statistics, sys
name, scratch = sys.argv[1], sys.argv[2]
times = {"Velmora": [], "empty": []}
for path in sorted(glob.glob(f"{scratch}/{name}-*.json")):
    for result in json.load(open(path))["results"]:
        times[result["command"]] += result["times"]
def ms(values):
    return [1000 * min(values), 1000 * statistics.median(values), 1000 * max(values)]
tool, empty = ms(times["Velmora"]), ms(times["empty"])
print(f"| {name} | {len(times['Velmora'])} | " + " / ".join(f"{v:.2f}" for v in tool) + " | "
      + " / ".join(f"{v:.2f}" for v in empty) + " | "
      + " / ".join(f"{t / e:.3f}" for t, e in zip(tool, empty)) + " |")
PY
}

echo "| system | runs each | Velmora -G ms (min / median / max) | empty ms (min / median / max) | ratio (min / median / max) |"
echo "|---|---|---|---|---|"

if [ "$target" = sim ] || [ "$target" = all ]; then
    printf 'privilege=held\n' >"$scratch/state"
    export VELMORA_SIM_STATE="$scratch/state"
    measure sim "$rounds" "$runs" "$sim_build/Velmora" "$sim_build/VelmoraEmpty"
fi

if [ "$target" = wine ] || [ "$target" = all ]; then
    export WINEPREFIX="${WINEPREFIX:-$win32_build/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=d"
    sh "$root/tests/wine-prefix.sh" start /usr/lib/wine/wine64 /usr/lib/wine/wineserver >/dev/null
    measure wine "$wine_rounds" "$wine_runs" "$win32_build/Velmora.exe" "$win32_build/VelmoraEmpty.exe" \
        /usr/lib/wine/wine64
    sh "$root/tests/wine-prefix.sh" stop /usr/lib/wine/wine64 /usr/lib/wine/wineserver
fi
