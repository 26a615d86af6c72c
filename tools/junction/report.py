"""report.html of an evaluation: tables and SVG plots (matplotlib, Debian's python3-matplotlib
for the system's /usr/bin/python3)."""
import html
import os

import matplotlib

matplotlib.use("Agg")  # files only, no display
import matplotlib.pyplot as plt  # noqa: E402

from evaluate import (SUMMARY_HEADER, study_view, AGAINST_HEADER, STREAM_HEADER, against_rows,  # noqa: E402
                      by_variant, mean, stream_rows, summary_rows)

COLOURS = {"g": "#2e9e44", "y": "#f2b600", "r": "#c8322d"}
PLOT_WIDTH = 9.0  # inches
SMOOTH = 6        # queue samples (of 10 s) in a point of the queue plot


def save(fig, out, name):
    os.makedirs(os.path.join(out, "plots"), exist_ok=True)
    fig.tight_layout()
    fig.savefig(os.path.join(out, "plots", name), format="svg")
    plt.close(fig)
    return f'<p><img src="plots/{name}" alt="{html.escape(name)}"></p>'


def plot_mean_wait(out, variants, demands, runs):
    fig, ax = plt.subplots(figsize=(PLOT_WIDTH, 3.8))
    width = 0.8 / max(1, len(demands))
    for k, demand in enumerate(demands):
        groups = by_variant(runs, demand)
        for i, v in enumerate(variants):
            waits = [r["total"]["mean_wait_s"] or 0.0 for r in groups.get(v, [])]
            if not waits:
                continue
            x = i + (k - (len(demands) - 1) / 2) * width
            m = sum(waits) / len(waits)
            ax.bar(x, m, width * 0.9, color=f"C{k}", label=f"demand × {demand:g}" if i == 0 else None,
                   yerr=[[m - min(waits)], [max(waits) - m]], capsize=3)
            ax.plot([x] * len(waits), waits, "k.", markersize=4)
    ax.set_xticks(range(len(variants)), variants, rotation=15, ha="right")
    ax.set_ylabel("mean wait per vehicle, s")
    ax.set_title("Mean wait per program (bars: mean over seeds; whiskers and dots: each seed)")
    if len(demands) > 1:
        ax.legend()
    return save(fig, out, "mean-wait.svg")


def plot_approach_wait(out, variants, groups, at):
    approaches = sorted({a for rs in groups.values() for r in rs for a in r["approaches"]})
    fig, ax = plt.subplots(figsize=(PLOT_WIDTH, 3.8))
    width = 0.8 / max(1, len(variants))
    for i, v in enumerate(variants):
        ys = [mean([r["approaches"].get(a, {}).get("mean_wait_s") for r in groups.get(v, [])])
              or 0.0 for a in approaches]
        ax.bar([k + (i - (len(variants) - 1) / 2) * width for k in range(len(approaches))], ys,
               width * 0.9, label=v)
    came = {a: r["approaches"][a].get("from") for rs in groups.values() for r in rs
            for a in r["approaches"]}
    labels = [f"{a} (from {came[a]})" if came.get(a) else a for a in approaches]
    ax.set_xticks(range(len(approaches)), labels, rotation=15, ha="right")
    ax.set_ylabel("mean wait per vehicle, s")
    ax.set_title(f"Wait per approach, {at} (mean over seeds)")
    ax.legend(fontsize="small")
    return save(fig, out, "approach-wait.svg")


def plot_queues(out, variants, groups, at):
    fig, ax = plt.subplots(figsize=(PLOT_WIDTH, 3.8))
    for v in variants:
        per_time = {}
        for r in groups.get(v, []):
            for t, q in r["queue_total"]["series"]:
                per_time.setdefault(t, []).append(q)
        if per_time:
            ts = sorted(per_time)
            ys = [sum(per_time[t]) / len(per_time[t]) for t in ts]
            # a minute's mean: the 10 s samples swing with every cycle
            smooth = [sum(ys[max(0, k - SMOOTH + 1):k + 1]) / len(ys[max(0, k - SMOOTH + 1):k + 1])
                      for k in range(len(ys))]
            ax.plot(ts, smooth, label=v, lw=1)
    ax.set_xlabel("simulated time, s")
    ax.set_ylabel("vehicles in queues")
    ax.set_title(f"Vehicles queued on all approaches, {at}: mean over seeds of the 10 s "
                 "samples, each point the mean of the minute before it", fontsize=9)
    ax.legend(fontsize="small")
    return save(fig, out, "queues.svg")


def plot_timelines(out, variants, groups, window):
    shown = [(v, groups[v][0]) for v in variants if groups.get(v)]
    rows = sum(max(1, sum(len(s) for s in r["timelines"].values())) for _, r in shown)
    fig, axes = plt.subplots(len(shown), 1, figsize=(PLOT_WIDTH, 1.0 + 0.22 * rows + 0.5 * len(shown)),
                             squeeze=False, sharex=True,
                             gridspec_kw={"height_ratios": [max(1, sum(len(s) for s in r["timelines"].values()))
                                                            for _, r in shown]})
    for ax, (v, r) in zip(axes[:, 0], shown):
        labels = []
        for tls, streams in r["timelines"].items():
            for stream, bars in streams.items():
                y = len(labels)
                for colour in "gyr":
                    spans = [(a, b - a) for a, b, c in bars if c == colour]
                    ax.broken_barh(spans, (y - 0.4, 0.8), color=COLOURS[colour])
                labels.append(f"{tls}/{stream}" if len(r["timelines"]) > 1 else stream)
        ax.set_yticks(range(len(labels)), labels, fontsize=7)
        ax.set_ylim(len(labels) - 0.5, -0.5)
        ax.set_title(f"{v} (seed {r['seed']})", fontsize=9, loc="left")
    axes[-1, 0].set_xlim(*window)
    axes[-1, 0].set_xlabel("simulated time, s")
    return save(fig, out, "timelines.svg")


def table(header, rows):
    head = "".join(f"<th>{html.escape(str(h))}</th>" for h in header)
    body = "".join("<tr>" + "".join(f"<td>{html.escape(str(c))}</td>" for c in row) + "</tr>"
                   for row in rows)
    return f"<table><tr>{head}</tr>{body}</table>"


def write_report(out, study, runs, missing):
    variants, demands, nominal, groups = study_view(study, runs)
    window = study["window"]
    parts = [f"<h1>Evaluation of {html.escape(os.path.basename(study['config']))}</h1>",
             f"<p>Network {html.escape(study['network'])}; seeds "
             f"{', '.join(map(str, study['seeds']))}; demand factors "
             f"{', '.join(f'{d:g}' for d in demands)}; "
             + (f"{study['end']:g} s simulated per run" if study.get("end") else
                "each run until the network is empty") + ".</p>",
             "<p>Derived baselines run SUMO's own programs of these stages: "
             + "; ".join(f"{html.escape(t)}: {html.escape(s)}" for t, s in
                         study.get("stages", {}).items()) + ".</p>" if study.get("stages") else ""]
    if missing:
        parts.append(f"<p><b>Runs without a result:</b> {html.escape(', '.join(missing))}</p>")
    if not runs:
        parts.append("<p>No run completed.</p>")
    else:
        at = f"demand × {nominal:g}"
        parts += [
            "<h2>Summary</h2>",
            "<p>Per variant and demand factor, over its seeds: vehicles per seed, the mean wait "
            "(in brackets the lowest and highest seed), the longest wait of any vehicle in any "
            "seed, queues in vehicles; collisions and conflicting greens summed over the "
            "seeds.</p>",
            table(SUMMARY_HEADER, summary_rows(variants, demands, runs)),
            plot_mean_wait(out, variants, demands, runs),
            "<h2>Programs against baselines</h2>",
            "<p>Mean wait of the program over the baseline's, seed by seed (below 1: the "
            "program waits less); worst seed: the highest of those ratios.</p>",
            table(AGAINST_HEADER, against_rows(study, variants, runs)),
            f"<h2>Per approach ({at})</h2>", plot_approach_wait(out, variants, groups, at),
            f"<h2>Per stream ({at})</h2>",
            table(STREAM_HEADER, stream_rows(variants, groups)),
            f"<h2>Queues ({at})</h2>", plot_queues(out, variants, groups, at),
            f"<h2>Signal timelines, {window[0]:g} to {window[1]:g} s ({at})</h2>",
            plot_timelines(out, variants, groups, window)]
    style = ("body{font-family:sans-serif;max-width:60em;margin:1em auto}"
             "table{border-collapse:collapse;font-size:0.85em}"
             "td,th{border:1px solid #bbb;padding:2px 6px;text-align:right}"
             "img{max-width:100%}")
    with open(os.path.join(out, "report.html"), "w") as f:
        f.write(f"<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Evaluation</title>"
                f"<style>{style}</style></head><body>\n" + "\n".join(parts) + "\n</body></html>\n")
