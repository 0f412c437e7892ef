#!/usr/bin/env bash
# Builds the JSON benchmarks twice, as Release (-O3 -DNDEBUG) and as
# RelWithDebInfo (-O2 -g -DNDEBUG), the project and the header-only peers
# alike, runs them in alternating rounds and prints the -O2 / -O3 table of
# docs/benchmarks.md (section JSON, Release and -O2 side by side) with the
# date, the commit and the load average of every run.
#
#   bench/json_speed_table.sh [rounds]        (default 3)
#
# Environment: PIN="taskset -c 6" runs every benchmark on one core;
# REPS (default 9) repetitions per run; MIN_TIME (default 0.2) seconds per
# repetition; OUT (default build/json-speed) keeps the builds and results.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
reps=${REPS:-9}
min_time=${MIN_TIME:-0.2}
out=${OUT:-build/json-speed}
pin=${PIN:-}
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-4}
mkdir -p "$out/results"
rm -f "$out"/results/*.json "$out"/results/loads.txt "$out"/results/commit.txt

# The commit built (a change made while the rounds run is not in them).
git log -1 --format='%h %s' >"$out/results/commit.txt"
git status --short --untracked-files=no | grep -q . && echo "(with uncommitted changes)" >>"$out/results/commit.txt"
declare -A type=([o3]=Release [o2]=RelWithDebInfo)
for b in o3 o2; do
  cmake -S . -B "$out/$b" -G Ninja -DCMAKE_BUILD_TYPE="${type[$b]}" -DDECK_BENCH=ON >/dev/null
  cmake --build "$out/$b" --target json_bench json_stream_bench >/dev/null
done

decode_filter='Decode_(Fast|RapidJSON)/|Write_(Fast|RapidJSON)/'
stream_filter='Parse_(Stream|nlohmann)/|Write_(Stream|RapidJSON)/'
common=(--benchmark_min_time="$min_time" --benchmark_repetitions="$reps"
        --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
        --benchmark_out_format=json)
for ((r = 1; r <= rounds; ++r)); do
  # Alternate which build goes first, so a change of load hits both alike.
  order=(o3 o2)
  ((r % 2 == 0)) && order=(o2 o3)
  for b in "${order[@]}"; do
    for bin in json_bench json_stream_bench; do
      filter=$decode_filter
      [[ $bin == json_stream_bench ]] && filter=$stream_filter
      echo "$r $b $bin $(cut -d' ' -f1-3 /proc/loadavg)" >>"$out/results/loads.txt"
      $pin "$out/$b/bench/$bin" --benchmark_filter="$filter" "${common[@]}" \
        --benchmark_out="$out/results/$r-$b-$bin.json" >/dev/null 2>&1
      echo "round $r/$rounds: $b $bin done" >&2
    done
  done
done

python3 - "$out/results" <<'PY'
import glob, json, os, statistics, sys, datetime
d = sys.argv[1]
med = {}  # (build, bench, doc) -> list of medians (one per round)
for f in sorted(glob.glob(os.path.join(d, '*.json'))):
    _, b, binary = os.path.basename(f)[:-5].split('-', 2)
    for run in json.load(open(f))['benchmarks']:
        if run.get('aggregate_name') != 'median':
            continue
        name, doc = run['run_name'].split('/')
        med.setdefault((b, binary, name, int(doc)), []).append(run['cpu_time'])
docs = ['twitter', 'citm_catalog', 'numbers']
rows = [('fast decode + walk', 'json_bench', 'BM_Decode_Fast', 'BM_Decode_RapidJSON', 'RapidJSON DOM'),
        ('fast serializer', 'json_bench', 'BM_Write_Fast', 'BM_Write_RapidJSON', 'RapidJSON Writer'),
        ('streaming parser + walk', 'json_stream_bench', 'BM_Parse_Stream', 'BM_Parse_nlohmann', 'nlohmann'),
        ('streaming writer', 'json_stream_bench', 'BM_Write_Stream', 'BM_Write_RapidJSON', 'RapidJSON Writer')]
def ratios(b, binary, ours, peer, doc):
    # Peer time / our time in each round (above 1: ours is faster).
    o, p = med.get((b, binary, ours, doc), []), med.get((b, binary, peer, doc), [])
    return [pp / oo for oo, pp in zip(o, p)]
commit = ' '.join(open(os.path.join(d, 'commit.txt')).read().split('\n')).strip()
loads = open(os.path.join(d, 'loads.txt')).read().split('\n')
ls = [float(l.split()[3]) for l in loads if l.strip()]
print(f"{datetime.datetime.utcnow():%Y-%m-%d %H:%M} UTC, commit {commit}")
print(f"load average (1 min) at the runs: {min(ls):.1f} to {max(ls):.1f}; rounds: {len(ls) // 4}")
print()
print("Speed ratio = peer's CPU time / ours, median of the rounds' medians (spread); above 1 is faster.")
print()
print("| measure | document | -O2 (RelWithDebInfo) | -O3 (Release) | ours / peer ms at -O3 |")
print("|---|---|---|---|---|")
for label, binary, ours, peer, peername in rows:
    for i, doc in enumerate(docs):
        cells = []
        for b in ('o2', 'o3'):
            rs = ratios(b, binary, ours, peer, i)
            cells.append(f"{statistics.median(rs):.2f} ({min(rs):.2f}-{max(rs):.2f})" if rs else "-")
        o3o = med.get(('o3', binary, ours, i), [])
        o3p = med.get(('o3', binary, peer, i), [])
        ms = f"{statistics.median(o3o):.3g} / {statistics.median(o3p):.3g}" if o3o and o3p else "-"
        print(f"| {label} / {peername} | {doc} | {cells[0]} | {cells[1]} | {ms} |")
PY
