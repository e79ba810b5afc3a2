#!/bin/sh
# Velmora's whole job is one or two system calls, so what it costs is its process
# start. This times "Velmora -G" against an empty program built exactly as it is,
# in interleaved rounds, and prints min, median and max of each and the ratio
# Velmora / empty. Then, but for win32, it times VelmoraState's get, test and set
# of a wanted state in place against "Velmora -G", all started the same way
# (through one sh -c wrapper that sets standard input), and prints the median of
# each and the ratio operation / Velmora -G.
#
# Usage: bench/startup.sh [--rounds R] [--runs N] [--build DIR] sim|sim64|win32|win64|all
#   sim, sim64    build/sim/Velmora, build/sim64/Velmora on the simulated system
#   win32, win64  build/win32/Velmora.exe, build/win64/Velmora.exe under Wine,
#                 its server kept warm: the copies of both programs that import
#                 CACHESIM.dll, since Wine itself has no cache limits to read
#   --rounds R    rounds of hyperfine (default 100 on the simulated system, 20
#                 for win64, 3 for win32, whose every start takes about a
#                 minute where 32-bit programs are emulated)
#   --runs N      runs of each program in a round (default 3, 1 for win32)
#   Each round first runs each program once unmeasured, except for win32: there
#   the one -G before the rounds warms Wine, and every 32-bit start counts.
#   --build DIR   the build folder of the one target named (default build/TARGET,
#                 as the preset of that name builds it)
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
        '' | *[!0-9]* | 0) echo "startup.sh: $1 needs a whole number above 0" >&2; exit 2 ;;
        esac
        if [ "$1" = --rounds ]; then rounds=$2; else runs=$2; fi
        shift 2
        ;;
    --build)
        [ -n "${2:-}" ] || { echo "startup.sh: --build needs a folder" >&2; exit 2; }
        build=$2
        shift 2
        ;;
    sim | sim64 | win32 | win64 | all)
        [ -z "$target" ] || { echo "startup.sh: one target only" >&2; exit 2; }
        target=$1
        shift
        ;;
    *) echo "startup.sh: unknown argument: $1" >&2; usage >&2; exit 2 ;;
    esac
done
target=${target:-all}
if [ -n "$build" ] && [ "$target" = all ]; then
    echo "startup.sh: --build goes with one target" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
wine_sh="$root/scripts/wine.sh"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmora-bench-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# rounds NAME ROUNDS HYPERFINE_ARGUMENTS...: that many rounds of hyperfine with
# those arguments, each round's results in $scratch/NAME-ROUND.json. Only a run
# that succeeds counts. Wine now and then fails one start of a program that runs
# well before and after, so a failed round is said on standard error and run
# once more; a round that fails twice stops the benchmark.
rounds() {
    name=$1 n_rounds=$2
    shift 2
    round=1
    while [ "$round" -le "$n_rounds" ]; do
        hyperfine -N --style none --export-json "$scratch/$name-$round.json" "$@" \
            >/dev/null 2>"$scratch/hyperfine.log" || {
            echo "startup.sh: $name: round $round failed, run once more:" >&2
            cat "$scratch/hyperfine.log" >&2
            hyperfine -N --style none --export-json "$scratch/$name-$round.json" "$@" \
                >/dev/null 2>"$scratch/hyperfine.log" || {
                cat "$scratch/hyperfine.log" >&2
                exit 1
            }
        }
        round=$((round + 1))
    done
}

# measure NAME ROUNDS RUNS WARMUP TOOL EMPTY [RUNNER]: rounds of hyperfine, each
# timing both programs after WARMUP unmeasured runs of each, so that drift on the
# machine falls on both alike. Only a run that succeeds counts: a program that
# fails stops the benchmark.
measure() {
    name=$1 n_rounds=$2 n_runs=$3 n_warmup=$4 tool=$5 empty=$6 runner=${7:-}
    $runner "$tool" -G >"$scratch/first-run.log" 2>&1 || {
        echo "startup.sh: $name: Velmora -G failed:" >&2
        cat "$scratch/first-run.log" >&2
        exit 1
    }
    rounds "$name" "$n_rounds" --warmup "$n_warmup" --runs "$n_runs" \
        -n Velmora "${runner:+$runner }$tool -G" -n empty "${runner:+$runner }$empty"
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

# The wanted state, in place on the system before every run.
wanted="$scratch/wanted.json"
printf '%s\n' '{"minimumMB":256,"maximumMB":2048}' >"$wanted"
in_place='memory=8589934592
min=268435456
max=2147483648
flags=5'

# measure_state NAME ROUNDS RUNS VELMORA STATE [RUNNER]: each round times Velmora -G
# and the three operations, after one unmeasured run of each.
measure_state() {
    name=$1 n_rounds=$2 n_runs=$3 velmora=$4 state=$5 runner=${6:-}
    for operation in get test set; do
        # shellcheck disable=SC2086 # $runner is empty on the simulated system: unquoted, it is no word at all
        $runner "$state" "$operation" <"$wanted" >"$scratch/first-run.log" 2>&1 || {
            echo "startup.sh: $name: VelmoraState $operation failed:" >&2
            cat "$scratch/first-run.log" >&2
            exit 1
        }
    done
    rounds "$name" "$n_rounds" --warmup 1 --runs "$n_runs" \
        -n velmora "sh -c 'exec $runner \"\$0\" -G </dev/null' $velmora" \
        -n get "sh -c 'exec $runner \"\$0\" get <$wanted' $state" \
        -n test "sh -c 'exec $runner \"\$0\" test <$wanted' $state" \
        -n set "sh -c 'exec $runner \"\$0\" set <$wanted' $state"
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

# simulated NAME BUILD_DIR WHAT: WHAT is startup or state.
simulated() {
    if [ "$3" = startup ]; then
        : >"$scratch/state"
        VELMORA_SIM_STATE="$scratch/state" measure "$1" "${rounds:-100}" "${runs:-3}" 1 "$2/Velmora" "$2/VelmoraEmpty"
    else
        printf '%s\n' "$in_place" >"$scratch/state"
        VELMORA_SIM_STATE="$scratch/state" measure_state "$1" "${rounds:-100}" "${runs:-3}" "$2/Velmora" \
            "$2/VelmoraState"
    fi
}

# windows NAME BUILD_DIR DEFAULT_ROUNDS DEFAULT_RUNS WARMUP WHAT
windows() {
    export WINEPREFIX="${WINEPREFIX:-$2/wineprefix}"
    "$wine_sh" --start >/dev/null
    folder="$scratch/$1-$6"
    mkdir "$folder"
    cp "$2/cachesim/Velmora.exe" "$2/cachesim/VelmoraEmpty.exe" "$2/cachesim/CACHESIM.dll" "$folder/"
    if [ "$6" = startup ]; then
        measure "$1" "${rounds:-$3}" "${runs:-$4}" "$5" "$folder/Velmora.exe" "$folder/VelmoraEmpty.exe" "$wine_sh"
    else
        cp "$2/cachesim/VelmoraState.exe" "$folder/"
        printf '%s\n' "$in_place" >"$folder/cachesim.state"
        measure_state "$1" "${rounds:-$3}" "${runs:-$4}" "$folder/Velmora.exe" "$folder/VelmoraState.exe" "$wine_sh"
    fi
    "$wine_sh" --stop
}

echo "| system | runs each | Velmora -G ms (min / median / max) | empty ms (min / median / max) | ratio (min / median / max) |"
echo "|---|---|---|---|---|"
case $target in sim | all) simulated sim "${build:-$root/build/sim}" startup ;; esac
case $target in sim64 | all) simulated sim64 "${build:-$root/build/sim64}" startup ;; esac
case $target in win32 | all) windows win32 "${build:-$root/build/win32}" 3 1 0 startup ;; esac
case $target in win64 | all) windows win64 "${build:-$root/build/win64}" 20 3 1 startup ;; esac
[ "$target" != win32 ] || exit 0
echo
echo "| system | runs each | Velmora -G ms (median) | get ms (ratio) | test ms (ratio) | set ms (ratio) |"
echo "|---|---|---|---|---|---|"
case $target in sim | all) simulated sim "${build:-$root/build/sim}" state ;; esac
case $target in sim64 | all) simulated sim64 "${build:-$root/build/sim64}" state ;; esac
case $target in win64 | all) windows win64 "${build:-$root/build/win64}" 20 3 1 state ;; esac
