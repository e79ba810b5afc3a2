#!/bin/sh
# What VelmoraState costs beside Velmora: get, test and set of a wanted state that
# is in place, each timed against "Velmora -G" in interleaved rounds, both
# started the same way (through one sh -c wrapper that sets standard input), and
# printed as the median of each and the ratio operation / Velmora -G.
#
# Usage: bench/state.sh [--rounds R] [--runs N] [--build DIR] sim|sim64|win64|all
#   sim, sim64    build/sim, build/sim64 on the simulated system
#   win64         build/win64 under Wine, its server kept warm: the copies of
#                 both programs that import CACHESIM.dll
#   --rounds R    rounds of hyperfine (default 30 on the simulated system, 10 for win64)
#   --runs N      runs of each command in a round (default 3)
#   --build DIR   the build folder of the one target named (default build/TARGET)
# Build the presets first (cmake --workflow --preset NAME).
set -eu

usage() {
    sh "$(dirname "$0")/../scripts/usage.sh" "$0"
}

rounds="" runs="" target="" build=""
while [ $# -gt 0 ]; do
    case $1 in
    -h | --help) usage; exit 0 ;;
    --rounds | --runs)
        case ${2:-} in
        '' | *[!0-9]* | 0) echo "state.sh: $1 needs a whole number above 0" >&2; exit 2 ;;
        esac
        if [ "$1" = --rounds ]; then rounds=$2; else runs=$2; fi
        shift 2
        ;;
    --build)
        [ -n "${2:-}" ] || { echo "state.sh: --build needs a folder" >&2; exit 2; }
        build=$2
        shift 2
        ;;
    sim | sim64 | win64 | all)
        [ -z "$target" ] || { echo "state.sh: one target only" >&2; exit 2; }
        target=$1
        shift
        ;;
    *) echo "state.sh: unknown argument: $1" >&2; usage >&2; exit 2 ;;
    esac
done
target=${target:-all}
if [ -n "$build" ] && [ "$target" = all ]; then
    echo "state.sh: --build goes with one target" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
wine_sh="$root/scripts/wine.sh"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmora-bench-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# The wanted state, in place on the system before every run.
wanted="$scratch/wanted.json"
printf '%s\n' '{"minimumMB":256,"maximumMB":2048}' >"$wanted"
in_place='memory=8589934592
min=268435456
max=2147483648
flags=5'

# measure NAME ROUNDS RUNS VELMORA STATE [RUNNER]: each round times Velmora -G
# and the three operations, after one unmeasured run of each.
measure() {
    name=$1 n_rounds=$2 n_runs=$3 velmora=$4 state=$5 runner=${6:-}
    for operation in get test set; do
        # shellcheck disable=SC2086
        $runner "$state" "$operation" <"$wanted" >"$scratch/first-run.log" 2>&1 || {
            echo "state.sh: $name: VelmoraState $operation failed:" >&2
            cat "$scratch/first-run.log" >&2
            exit 1
        }
    done
    round=1
    while [ "$round" -le "$n_rounds" ]; do
        hyperfine -N --style none --warmup 1 --runs "$n_runs" --export-json "$scratch/$name-$round.json" \
            -n velmora "sh -c 'exec $runner \"\$0\" -G </dev/null' $velmora" \
            -n get "sh -c 'exec $runner \"\$0\" get <$wanted' $state" \
            -n test "sh -c 'exec $runner \"\$0\" test <$wanted' $state" \
            -n set "sh -c 'exec $runner \"\$0\" set <$wanted' $state" \
            >/dev/null 2>"$scratch/hyperfine.log" || {
            cat "$scratch/hyperfine.log" >&2
            exit 1
        }
        round=$((round + 1))
    done
    python3 - "$name" "$scratch" <<'PY'
import glob, json, statistics, sys
name, scratch = sys.argv[1], sys.argv[2]
times = {}
for path in sorted(glob.glob(f"{scratch}/{name}-*.json")):
    for result in json.load(open(path))["results"]:
        times.setdefault(result["command"], []).extend(result["times"])
base = statistics.median(times["velmora"])
cells = [f"{1000 * base:.2f}"]
for operation in ("get", "test", "set"):
    median = statistics.median(times[operation])
    cells.append(f"{1000 * median:.2f} ({median / base:.2f})")
print(f"| {name} | {len(times['velmora'])} | " + " | ".join(cells) + " |")
PY
}

# simulated NAME BUILD_DIR
simulated() {
    printf '%s\n' "$in_place" >"$scratch/state"
    VELMORA_SIM_STATE="$scratch/state" measure "$1" "${rounds:-30}" "${runs:-3}" "$2/Velmora" "$2/VelmoraState"
}

# windows NAME BUILD_DIR
windows() {
    export WINEPREFIX="${WINEPREFIX:-$2/wineprefix}"
    "$wine_sh" --start >/dev/null
    mkdir "$scratch/$1"
    cp "$2/cachesim/Velmora.exe" "$2/cachesim/VelmoraState.exe" "$2/cachesim/CACHESIM.dll" "$scratch/$1/"
    printf '%s\n' "$in_place" >"$scratch/$1/cachesim.state"
    measure "$1" "${rounds:-10}" "${runs:-3}" "$scratch/$1/Velmora.exe" "$scratch/$1/VelmoraState.exe" "$wine_sh"
    "$wine_sh" --stop
}

echo "| system | runs each | Velmora -G ms (median) | get ms (ratio) | test ms (ratio) | set ms (ratio) |"
echo "|---|---|---|---|---|---|"
case $target in sim | all) simulated sim "${build:-$root/build/sim}" ;; esac
case $target in sim64 | all) simulated sim64 "${build:-$root/build/sim64}" ;; esac
case $target in win64 | all) windows win64 "${build:-$root/build/win64}" ;; esac
