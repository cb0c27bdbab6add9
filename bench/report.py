#!/usr/bin/env python3
"""Turns the benchmark outputs into markdown tables and PNG charts.

Inputs (any may be missing): quality.csv (ici3d_bench_quality),
throughput.csv (ici3d_bench_throughput), micro.json (Google Benchmark).
Writes into the output folder: quality_<points>.md, sweep.md,
throughput.md, micro.md, summary.md and the charts (gnuplot, pngcairo).
"""

import argparse
import csv
import json
import os
import shutil
import subprocess
import tempfile
from collections import OrderedDict, defaultdict

METHODS = ["noisy", "ours", "jet", "bilateral", "mls"]
PEERS = ["jet", "bilateral", "mls"]
TITLES = {
    "noisy": "noisy input",
    "ours": "ici3d",
    "jet": "CGAL jet",
    "bilateral": "CGAL bilateral",
    "mls": "PCL MLS",
}
SHARP = ["fandisk", "cube", "machined"]


def read_csv(path):
    if not path or not os.path.exists(path):
        return []
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def read_quality(paths):
    """The rows of several quality CSVs; a table row of a later file replaces
    the earlier one of the same cell and method (ours rerun after a change,
    beside the peers of an earlier run). Peers' table rows missing from a run
    that was cut short are derived from its sweep rows (derived_peer_rows)."""
    rows, table = [], OrderedDict()
    for path in paths or []:
        for r in read_csv(path):
            if r["phase"] == "table":
                table[(r["points"], r["mesh"], r["sigma"], r["method"])] = r
            else:
                rows.append(r)
    for r in derived_peer_rows(rows):
        table.setdefault((r["points"], r["mesh"], r["sigma"], r["method"]), r)
    return rows + list(table.values())


def derived_peer_rows(rows):
    """Table rows of each peer from the sweep, chosen as the benchmark chooses
    them: per size, family and noise level, the setting with the lowest mean
    score over the clouds it ran on (the first tried among equals)."""
    scores, order = defaultdict(list), {}
    for r in rows:
        if r["phase"] == "sweep" and r["method"] in PEERS:
            key = (r["points"], r["method"], r["sigma"], r["setting"])
            scores[key].append(float(r["score"]))
            order.setdefault(key, len(order))
    best = {}
    for (points, family, sigma, setting), values in sorted(scores.items(), key=lambda kv: order[kv[0]]):
        score = mean(values)
        if (points, family, sigma) not in best or score < best[(points, family, sigma)][0]:
            best[(points, family, sigma)] = (score, setting)
    out = []
    for r in rows:
        if r["phase"] == "sweep" and r["method"] in PEERS:
            if best[(r["points"], r["method"], r["sigma"])][1] == r["setting"]:
                out.append(dict(r, phase="table"))
    return out


def write_table_rows(rows, path):
    table = [r for r in rows if r["phase"] == "table"]
    with open(path, "w", newline="") as f:
        out = csv.DictWriter(f, fieldnames=list(table[0].keys()) if table else ["phase"])
        out.writeheader()
        out.writerows(table)


def fmt(value, digits=2):
    return f"{value:.{digits}f}"


def num(value):
    """An integer with spaces between groups of three digits: 1 000 000."""
    return f"{value:,.0f}".replace(",", " ")


def mean(values):
    values = list(values)
    return sum(values) / len(values) if values else float("nan")


# ---------------------------------------------------------------------------
# Quality
# ---------------------------------------------------------------------------


def table_rows(rows, points):
    """(mesh, sigma) -> method -> row, in the order the cells were run."""
    cells = OrderedDict()
    for r in rows:
        if r["phase"] == "table" and int(r["points"]) == points:
            cells.setdefault((r["mesh"], float(r["sigma"])), {})[r["method"]] = r
    return cells


def present_methods(cells):
    seen = {m for per in cells.values() for m in per}
    return [m for m in METHODS if m in seen]


def best_marked(per, methods, key, digits):
    """Cell texts with the lowest value among the denoisers in bold."""
    values = {m: float(per[m][key]) for m in methods if m in per}
    candidates = [m for m in values if m != "noisy"]
    lowest = min((values[m] for m in candidates), default=None)
    out = []
    for m in methods:
        if m not in values:
            out.append("–")
            continue
        text = fmt(values[m], digits)
        out.append(f"**{text}**" if m != "noisy" and values[m] == lowest else text)
    return out


def wins(cells, key):
    """Cells where ours is lower than every peer present, and the cell count."""
    won = total = 0
    for per in cells.values():
        peers = [float(per[m][key]) for m in PEERS if m in per]
        if "ours" not in per or not peers:
            continue
        total += 1
        won += float(per["ours"][key]) < min(peers)
    return won, total


def quality_markdown(cells, points):
    methods = present_methods(cells)
    head = "| mesh | σ | " + " | ".join(TITLES[m] for m in methods) + " |"
    rule = "|---|---|" + "---:|" * len(methods)
    lines = [f"### {num(points)} points", ""]
    for key, title, digits in [
        ("chamfer_e4", "Chamfer distance ×10⁴", 3),
        ("p2m_e4", "Point-to-mesh distance ×10⁴", 3),
    ]:
        won, total = wins(cells, key)
        lines += [f"**{title}** (lower is better; best denoiser in bold; ici3d lowest in "
                  f"{won} of {total} cells)", "", head, rule]
        for (mesh, sigma), per in cells.items():
            lines.append(f"| {mesh} | {sigma:.1%} | " + " | ".join(best_marked(per, methods, key, digits)) + " |")
        lines.append("")
    sharp = [(k, per) for k, per in cells.items() if k[0] in SHARP]
    if sharp:
        won, total = wins(dict(sharp), "normal_deg")
        lines += [f"**Mean normal angle error, degrees** (sharp-edged shapes; PCA normals of the "
                  f"output, 12 neighbours, against the closest mesh face; ici3d lowest in {won} of "
                  f"{total} cells)", "", head, rule]
        for (mesh, sigma), per in sharp:
            lines.append(f"| {mesh} | {sigma:.1%} | " + " | ".join(best_marked(per, methods, "normal_deg", 1)) + " |")
        lines.append("")
    lines += chamfer_split_lines(cells, methods)
    lines += estimate_lines(cells)
    lines += ["**Wall time per cloud, seconds** (mean over the cells; 2 threads)", "",
              "| " + " | ".join(TITLES[m] for m in methods if m != "noisy") + " |",
              "|" + "---:|" * (len(methods) - 1),
              "| " + " | ".join(fmt(mean(float(per[m]["seconds"]) for per in cells.values() if m in per), 2)
                               for m in methods if m != "noisy") + " |", ""]
    settings = defaultdict(set)
    for (mesh, sigma), per in cells.items():
        for m in methods:
            if m in per and m != "noisy":
                settings[(m, sigma)].add(per[m]["setting"])
    lines += ["**Settings** (peers: best per noise level from the sweep on these clouds; ici3d: its "
              "defaults, noise and spacing estimated)", "", "| method | σ | setting |", "|---|---|---|"]
    for (m, sigma), settings in sorted(settings.items(), key=lambda kv: (METHODS.index(kv[0][0]), kv[0][1])):
        lines.append(f"| {TITLES[m]} | {sigma:.1%} | {'; '.join(sorted(settings))} |")
    lines.append("")
    return "\n".join(lines)


def estimate_lines(cells):
    """What ici3d estimated and chose per cell, against the truth."""
    ours = [(k, per["ours"]) for k, per in cells.items() if "ours" in per and per["ours"].get("est_sigma")]
    if not ours:
        return []
    within = sum(1 for (_, sigma), r in ours if abs(float(r["est_sigma"]) / sigma - 1) <= 0.1)
    lines = [f"**What ici3d estimated and chose** (no ground truth given; σ estimate within ±10 % "
             f"in {within} of {len(ours)} cells; true spacing = √(area / points))", "",
             "| mesh | σ | σ / spacing | σ estimated / true | spacing estimated / true | "
             "neighbourhood radius / σ | smallest window / σ | longest list | capped lists | s | peak MiB |",
             "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for (mesh, sigma), r in ours:
        h = float(r["true_spacing"])
        lines.append(
            f"| {mesh} | {sigma:.1%} | {fmt(sigma / h, 2)} | {fmt(float(r['est_sigma']) / sigma, 3)} | "
            f"{fmt(float(r['est_spacing']) / h, 3)} | {fmt(float(r['noise_radius']) / sigma, 1)} | "
            f"{fmt(float(r['window']) / sigma, 1)} | {r['longest_list']} | {r['capped_lists']} | "
            f"{fmt(float(r['seconds']), 2)} | {fmt(float(r['peak_mb']), 0)} |")
    return lines + [""]


def chamfer_split_lines(cells, methods):
    """The two halves of the Chamfer distance, where the CSV has them."""
    if not all(per[m].get("to_clean_e4") for per in cells.values() for m in methods if m in per):
        return []
    lines = ["**Chamfer distance split** (mean over the cells, ×10⁴): output → clean samples "
             "(accuracy) and clean samples → output (coverage)", "",
             "| | " + " | ".join(TITLES[m] for m in methods) + " |", "|---|" + "---:|" * len(methods)]
    for key, title in [("to_clean_e4", "output → clean"), ("from_clean_e4", "clean → output")]:
        values = [mean(float(per[m][key]) for per in cells.values() if m in per) for m in methods]
        lines.append(f"| {title} | " + " | ".join(fmt(v, 3) for v in values) + " |")
    return lines + [""]


def quality_chart(cells, points, path):
    methods = [m for m in present_methods(cells)]
    data = []
    for (mesh, sigma), per in cells.items():
        label = f"{mesh} {sigma:.0%}"
        data.append([label] + [per[m]["chamfer_e4"] if m in per else "NaN" for m in methods]
                    + [per[m]["p2m_e4"] if m in per else "NaN" for m in methods])
    n = len(methods)
    plots_cd = ", ".join(f"'$data' using {i + 2}:xtic(1) title '{TITLES[m]}'" for i, m in enumerate(methods))
    plots_p2m = ", ".join(f"'$data' using {n + i + 2}:xtic(1) title '{TITLES[m]}'" for i, m in enumerate(methods))
    script = f"""
set terminal pngcairo size 1400,900 font ',9'
set output '{path}'
set multiplot layout 2,1 title '{points} points: errors ×10⁴ (log scale, lower is better)'
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set logscale y
set grid ytics
set xtics rotate by -40 scale 0
set key outside top center horizontal
set ylabel 'Chamfer ×10⁴'
plot {plots_cd}
set ylabel 'point-to-mesh ×10⁴'
plot {plots_p2m}
unset multiplot
"""
    run_gnuplot(script, data)


# ---------------------------------------------------------------------------
# Sweeps
# ---------------------------------------------------------------------------


def sweep_markdown(rows):
    lines = []
    for n in sorted({int(r["points"]) for r in rows if r["phase"] == "sweep"}):
        lines += sweep_size_lines([r for r in rows if int(r["points"]) == n], n)
    return "\n".join(lines)


def sweep_size_lines(rows, points):
    lines = [f"### Peers on the {num(points)}-point clouds", "",
             "Mean relative score over the meshes (½·(Chamfer/Chamfer of the input + "
             "P2M/P2M of the input); lower is better); the setting kept per noise level in bold.", ""]
    scores = defaultdict(list)
    sigmas = sorted({float(r["sigma"]) for r in rows if r["phase"] == "sweep"})
    kept = {(r["method"], float(r["sigma"]), r["setting"]) for r in rows
            if r["phase"] == "table" and r["method"] in PEERS}
    for r in rows:
        if r["phase"] == "sweep" and r["method"] in PEERS:
            scores[(r["setting"], float(r["sigma"]))].append(float(r["score"]))
    settings = list(OrderedDict.fromkeys(r["setting"] for r in rows if r["phase"] == "sweep" and r["method"] in PEERS))
    lines += ["| setting | " + " | ".join(f"σ {s:.1%}" for s in sigmas) + " | mean time, s |",
              "|---|" + "---:|" * (len(sigmas) + 1)]
    for setting in settings:
        family = setting.split(":")[0]
        cells = []
        for s in sigmas:
            text = fmt(mean(scores[(setting, s)]), 3) if scores[(setting, s)] else "–"
            cells.append(f"**{text}**" if (family, s, setting) in kept else text)
        t = mean(float(r["seconds"]) for r in rows if r["phase"] == "sweep" and r["setting"] == setting)
        lines.append(f"| `{setting}` | " + " | ".join(cells) + f" | {fmt(t, 2)} |")
    lines.append("")
    return lines


# ---------------------------------------------------------------------------
# Throughput and micro-benchmarks
# ---------------------------------------------------------------------------

STAGES = [("estimate_s", "spacing and noise estimates"), ("knn_s", "k-NN table"),
          ("lists_s", "candidate lists"), ("frames_s", "frames"),
          ("main_loop_s", "main loop (ICI estimates, spreading, solves)")]


def throughput_markdown(rows):
    lines = ["| points | threads | pass, s | points/s | peak RSS, MiB | bytes/point | longest list | "
             + " | ".join(f"{name}, s" for _, name in STAGES) + " |",
             "|---:|---:|---:|---:|---:|---:|---:|" + "---:|" * len(STAGES)]
    for r in rows:
        n = int(r["points"])
        total = float(r["total_s"])
        stages = " | ".join(fmt(float(r[k]), 3) if float(r["main_loop_s"]) > 0 else "–" for k, _ in STAGES)
        lines.append(f"| {num(n)} | {r['threads']} | {fmt(total, 2)} | {num(n / total)} | "
                     f"{num(int(r['peak_rss_bytes']) / 2**20)} | {num(float(r['bytes_per_point']))} | "
                     f"{r['longest_list']} | {stages} |")
    speedups = []
    by_size = defaultdict(dict)
    for r in rows:
        by_size[int(r["points"])][int(r["threads"])] = float(r["total_s"])
    for n, times in sorted(by_size.items()):
        if 1 in times and len(times) > 1:
            most = max(times)
            speedups.append(f"{num(n)} points: {times[1] / times[most]:.2f}× with {most} threads")
    lines += ["", "Speed-up of the whole pass from 1 thread: " + ("; ".join(speedups) or "not measured") + ".", ""]
    return "\n".join(lines)


def throughput_chart(rows, path):
    """Stacked seconds per 100 000 points of each stage, one bar per cloud size."""
    best = {}
    for r in rows:
        n = int(r["points"])
        if float(r["main_loop_s"]) > 0 and (n not in best or int(r["threads"]) > int(best[n]["threads"])):
            best[n] = r
    if not best:
        return
    data = []
    for n, r in sorted(best.items()):
        scale = 1e5 / n
        data.append([f"{num(n)} points, {r['threads']} threads"]
                    + [str(float(r[k]) * scale) for k, _ in STAGES])
    plots = ", ".join(f"'$data' using {i + 2}{':xtic(1)' if i == 0 else ''} title '{name}'"
                      for i, (_, name) in enumerate(STAGES))
    script = f"""
set terminal pngcairo size 900,500 font ',9'
set output '{path}'
set title 'Time of one pass by stage, seconds per 100 000 points (lower is better)'
set style data histograms
set style histogram rowstacked
set style fill solid 0.85 border -1
set boxwidth 0.6
set grid ytics
set yrange [0:*]
set key outside right
plot {plots}
"""
    run_gnuplot(script, data)


def human_time(value, unit):
    """A duration in the largest unit that keeps it at 1 or more: 1650 ns -> 1.65 µs."""
    units = ["ns", "us", "ms", "s"]
    k = units.index(unit) if unit in units else 0
    while value >= 1000 and k + 1 < len(units):
        value /= 1000
        k += 1
    return f"{value:.3g} {units[k].replace('us', 'µs')}"


def micro_markdown(path):
    if not path or not os.path.exists(path):
        return ""
    with open(path) as f:
        report = json.load(f)
    lines = ["| benchmark | wall time | CPU time | items/s |", "|---|---:|---:|---:|"]
    for b in report.get("benchmarks", []):
        if b.get("run_type", "iteration") != "iteration":
            continue
        unit = b.get("time_unit", "ns")
        items = b.get("items_per_second")
        lines.append(f"| `{b['name']}` | {human_time(b['real_time'], unit)} | "
                     f"{human_time(b['cpu_time'], unit)} | " + (num(items) if items else "–") + " |")
    ctx = report.get("context", {})
    lines += ["", f"{ctx.get('num_cpus', '?')} CPUs at {ctx.get('mhz_per_cpu', '?')} MHz, load average "
              f"{', '.join(f'{x:.1f}' for x in ctx.get('load_avg', []))} at the start.", ""]
    return "\n".join(lines)


# ---------------------------------------------------------------------------
# Summary for the README
# ---------------------------------------------------------------------------


def summary_markdown(rows, throughput):
    sizes = sorted({int(r["points"]) for r in rows if r["phase"] == "table"})
    lines = []
    if sizes:
        methods = [m for m in METHODS if any(r["method"] == m and r["phase"] == "table" for r in rows)]
        lines += ["| | " + " | ".join(TITLES[m] for m in methods) + " |", "|---|" + "---:|" * len(methods)]
        for n in sizes:
            cells = table_rows(rows, n)
            for key, title in [("chamfer_e4", "Chamfer ×10⁴"), ("p2m_e4", "point-to-mesh ×10⁴")]:
                values = [mean(float(per[m][key]) for per in cells.values() if m in per) for m in methods]
                won, total = wins(cells, key)
                lines.append(f"| {title}, {num(n)} points (mean; ici3d best in {won}/{total} cells) | "
                             + " | ".join(fmt(v, 3) for v in values) + " |")
            sharp = {k: per for k, per in cells.items() if k[0] in SHARP}
            if sharp:
                values = [mean(float(per[m]["normal_deg"]) for per in sharp.values() if m in per) for m in methods]
                won, total = wins(sharp, "normal_deg")
                lines.append(f"| normal error on sharp shapes, °, {num(n)} points (mean; ici3d best in "
                             f"{won}/{total} cells) | " + " | ".join(fmt(v, 1) for v in values) + " |")
            values = [mean(float(per[m]["seconds"]) for per in cells.values() if m in per) for m in methods]
            lines.append(f"| seconds per {num(n)}-point cloud (2 threads) | "
                         + " | ".join("–" if m == "noisy" else fmt(v, 2) for m, v in zip(methods, values)) + " |")
            est = [(s, per["ours"]) for (_, s), per in cells.items() if "ours" in per and per["ours"].get("est_sigma")]
            if est:
                within = sum(1 for s, r in est if abs(float(r["est_sigma"]) / s - 1) <= 0.1)
                worst = max(abs(float(r["est_sigma"]) / s - 1) for s, r in est)
                lines.append(f"| σ estimate within ±10 %, {num(n)} points (worst {worst:.0%}) | "
                             + " | ".join(f"{within}/{len(est)}" if m == "ours" else "–" for m in methods) + " |")
        lines.append("")
        for n in sizes:
            cells = table_rows(rows, n)
            pairs = [(float(per["ours"]["seconds"]), float(per["jet"]["seconds"]),
                      float(per["ours"]["peak_mb"] or 0)) for per in cells.values() if "ours" in per and "jet" in per]
            if pairs:
                ours_t, jet_t = mean(p[0] for p in pairs), mean(p[1] for p in pairs)
                lines.append(f"- {num(n)} points: ici3d {ours_t:.2f} s per cloud against {jet_t:.2f} s for "
                             f"CGAL jet smoothing with its tuned k ({ours_t / jet_t:.1f}×); ici3d's peak "
                             f"memory {num(mean(p[2] for p in pairs) * 2**20 / n)} bytes per point.")
    if throughput:
        parts = []
        for r in throughput:
            if int(r["threads"]) >= max(int(x["threads"]) for x in throughput if x["points"] == r["points"]):
                n = int(r["points"])
                parts.append(f"{num(n)} points: {num(n / float(r['total_s']))} points/s, "
                             f"{num(float(r['bytes_per_point']))} bytes/point")
        lines += ["", "Throughput of one pass (host pipeline with its defaults at the time, all threads): " + "; ".join(parts) + "."]
    return "\n".join(lines) + "\n"


# ---------------------------------------------------------------------------


def run_gnuplot(script, data):
    if not shutil.which("gnuplot"):
        print("report: gnuplot not found, no chart")
        return
    block = "$data << EOD\n" + "\n".join(" ".join(f'"{c}"' if i == 0 else str(c) for i, c in enumerate(row))
                                       for row in data) + "\nEOD\n"
    with tempfile.NamedTemporaryFile("w", suffix=".gp", delete=False) as f:
        f.write(block + script)
        name = f.name
    try:
        subprocess.run(["gnuplot", name], check=True)
    finally:
        os.unlink(name)


def write(path, text):
    with open(path, "w") as f:
        f.write(text)
    print(f"report: wrote {path}")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--quality", action="append",
                        help="quality CSV (repeatable; later files replace earlier table rows)")
    parser.add_argument("--throughput", help="throughput CSV")
    parser.add_argument("--micro", help="Google Benchmark JSON")
    parser.add_argument("--out", required=True, help="output folder")
    parser.add_argument("--tables-csv", help="also write the table rows chosen here (peers' tuned settings "
                        "included) as a quality CSV, for ici3d_bench_quality --tuned-from")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    rows = read_quality(args.quality)
    if args.tables_csv:
        write_table_rows(rows, args.tables_csv)
    throughput = read_csv(args.throughput)
    for n in sorted({int(r["points"]) for r in rows if r["phase"] == "table"}):
        cells = table_rows(rows, n)
        write(os.path.join(args.out, f"quality_{n}.md"), quality_markdown(cells, n))
        quality_chart(cells, n, os.path.join(args.out, f"quality_{n}.png"))
    if rows:
        write(os.path.join(args.out, "sweep.md"), sweep_markdown(rows))
    if throughput:
        write(os.path.join(args.out, "throughput.md"), throughput_markdown(throughput))
        throughput_chart(throughput, os.path.join(args.out, "throughput.png"))
    micro = micro_markdown(args.micro)
    if micro:
        write(os.path.join(args.out, "micro.md"), micro)
    write(os.path.join(args.out, "summary.md"), summary_markdown(rows, throughput))


if __name__ == "__main__":
    main()
