#!/usr/bin/env bash
# Runs the benchmarks of the user's label jobs (repaint, print, PDF export,
# open, first feather) RUNS times in a Release build and prints one table:
# each figure's median over the runs and its range.
#   tools/bench-table.sh [RUNS]     (default 3; JOBS builds, default nproc)
set -euo pipefail

cd "$(dirname "$0")/.."
runs=${1:-3}
jobs=${JOBS:-$(nproc)}
tree=build/bench
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)

cmake -S . -B "$tree" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$tree" -j "$jobs" --target bench_view bench_pdf_export bench_startup bench_masks >/dev/null

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for ((run = 1; run <= runs; run++)); do
  echo "run $run of $runs" >&2
  for spec in "view:BM_PhotoLabelRepaint" \
              "pdf_export:BM_PdfExportJob/type:0/|BM_PrintJob" \
              "startup:BM_OpenPhotoProject" \
              "masks:BM_FeatherFirstVsWarm"; do
    name=${spec%%:*}
    filter=${spec#*:}
    "$tree/bench/bench_$name" --benchmark_filter="$filter" \
      --benchmark_out="$out/$name-$run.json" --benchmark_out_format=json >/dev/null 2>"$out/$name-$run.err" || {
      echo "bench_$name failed in run $run:" >&2
      cat "$out/$name-$run.err" >&2
      exit 1
    }
  done
done

python3 - "$out" "$runs" <<'EOF'
import json, statistics, sys

folder, runs = sys.argv[1], int(sys.argv[2])
results = {}  # (benchmark prefix, counter) -> values, one per run
for run in range(1, runs + 1):
    for name in ("view", "pdf_export", "startup", "masks"):
        with open(f"{folder}/{name}-{run}.json") as f:
            for b in json.load(f)["benchmarks"]:
                for key, value in b.items():
                    if isinstance(value, (int, float)):
                        results.setdefault((b["name"], key), []).append(value)

def values(prefix, counter):
    for (name, key), v in results.items():
        if key == counter and (name + "/").startswith(prefix + "/"):
            return v
    sys.exit(f"no figure {counter} of {prefix}")

def figure(prefix, counter, unit):
    v = values(prefix, counter)
    fmt = lambda x: f"{x:.3g}" if x < 1000 else f"{x:.0f}"
    if len(v) == 1:
        return f"{fmt(v[0])}{unit}"
    return f"{fmt(statistics.median(v))}{unit} ({fmt(min(v))}–{fmt(max(v))}{unit})"

repaint = "BM_PhotoLabelRepaint/type:{}/zoom:{}"
export = "BM_PdfExportJob/type:0/preset:{}"
rows = [
    ("DVD + photo repaint at 400 % ÷ QPainter same scene",
     figure(repaint.format(3, 400), "ratio", "×") + ", " + figure(repaint.format(3, 400), "ms", " ms"), "≤ 1.5×"),
    ("CD Front + photo repaint at fit and 100 % ÷ QPainter",
     "fit " + figure(repaint.format(0, 0), "ratio", "×") + "; 100 % " + figure(repaint.format(0, 100), "ratio", "×"),
     "≤ 1.0×"),
    ("CD Front A4 print at 600 dpi ÷ QPainter yardstick",
     figure("BM_PrintJob", "ratio", "×") + ", " + figure("BM_PrintJob", "ms", " ms"), "≤ 1.5×"),
    ("PDF export 600 dpi, whole job ÷ libjpeg-turbo q100 encode of the page",
     figure(export.format(2), "ratio", "×") + ", " + figure(export.format(2), "ms", " ms"), "≤ 2×"),
    ("PDF export 600 dpi, peak resident memory", figure(export.format(2), "peak_MiB", " MiB"), "≤ 100 MiB"),
    ("PDF export 150 dpi, whole job", figure(export.format(0), "ms", " ms"), "≤ 200 ms"),
    ("open saved photo project to first paint ÷ (file read + one decode)",
     figure("BM_OpenPhotoProject", "ratio", "×") + ", " + figure("BM_OpenPhotoProject", "ms", " ms"), "≤ 1.5×"),
    ("first feather mask ÷ warm",
     figure("BM_FeatherFirstVsWarm", "ratio", "×") + ", " + figure("BM_FeatherFirstVsWarm", "first_ms", " ms"),
     "≤ 2×"),
]
print(f"Release, {runs} runs: median (range)")
print("| job | measured | target |")
print("|---|---|---|")
for job, measured, target in rows:
    print(f"| {job} | {measured} | {target} |")
EOF
