#!/usr/bin/python3
"""Draws the pictures of LyraneTuning's CSV output as PNG files.

usage: lyrane_tuning_plot.py response PREFIX   reads PREFIX.response.csv and
                                               PREFIX.sections.csv, writes
                                               PREFIX.response.png
       lyrane_tuning_plot.py trace PREFIX      reads PREFIX.trace.csv and
                                               PREFIX.reductions.csv, writes
                                               PREFIX.trace.png

Prints the path of the picture. Every number drawn or written comes from the
CSV files as LyraneTuning computed it; this script only lays them out.
"""
import csv
import os
import sys

import matplotlib

matplotlib.use("Agg")  # files only, no display needed
import matplotlib.pyplot as plt  # noqa: E402

# 1280 x 800 pixels: whole on a laptop screen.
FIGURE_INCHES = (12.8, 8.0)
FIGURE_DPI = 100
# Levels below this are the tool's silence floor and of no interest here.
LEVEL_AXIS_DBFS = (-100, 5)

USAGE = "usage: lyrane_tuning_plot.py response|trace PREFIX"


class PlotError(Exception):
    pass


def read_csv(path):
    """(metadata dict from '# key: value' lines, list of row dicts)."""
    try:
        with open(path, newline="") as f:
            lines = f.read().splitlines()
    except OSError as e:
        raise PlotError(f"cannot read {path}: {e.strerror}")
    metadata = {}
    body = []
    for line in lines:
        if line.startswith("# "):
            key, _, value = line[2:].partition(": ")
            metadata[key] = value
        else:
            body.append(line)
    rows = list(csv.DictReader(body))
    if not rows and not body:
        raise PlotError(f"{path} holds no header line")
    return metadata, rows


def column(rows, name, path):
    try:
        return [float(row[name]) for row in rows]
    except (KeyError, TypeError, ValueError):
        raise PlotError(f"{path}: column '{name}' is missing or not a number")


def number(text, style):
    """A CSV number as text in the given format, for labels."""
    try:
        return format(float(text), style)
    except (TypeError, ValueError):
        return "?"


def save(figure, path):
    figure.savefig(path, dpi=FIGURE_DPI)
    plt.close(figure)
    print(path)


def plot_response(prefix):
    curves_path = prefix + ".response.csv"
    sections_path = prefix + ".sections.csv"
    metadata, rows = read_csv(curves_path)
    _, sections = read_csv(sections_path)
    rates = metadata.get("rates_hz", "").split()
    if not rates:
        raise PlotError(f"{curves_path}: no '# rates_hz' line")
    source = os.path.basename(metadata.get("coefficient_file", "?"))

    figure, axes = plt.subplots(2, len(rates), figsize=FIGURE_INCHES, squeeze=False,
                                sharex="col")
    figure.suptitle(f"Equalizer response of {source} at {' Hz, '.join(rates)} Hz "
                    "(as the equalizer loads it)")
    limits = metadata.get("magnitude_axis_db", "").split()
    for index, rate in enumerate(rates):
        magnitude_axis, phase_axis = axes[0][index], axes[1][index]
        draw_rate(rate, rows, sections, magnitude_axis, phase_axis, curves_path)
        if len(limits) == 2:
            magnitude_axis.set_ylim(float(limits[0]), float(limits[1]))
    figure.tight_layout()
    save(figure, prefix + ".response.png")


def draw_rate(rate, rows, sections, magnitude_axis, phase_axis, path):
    rate_rows = [row for row in rows if row["fs_hz"] == rate]
    names = list(dict.fromkeys(row["curve"] for row in rate_rows))
    info = {row["curve"]: row for row in sections if row["fs_hz"] == rate}
    refusals = []
    for name in names:
        curve = [row for row in rate_rows if row["curve"] == name]
        frequency = column(curve, "frequency_hz", path)
        section = info.get(name, {})
        if name == "cascade":
            style = dict(color="black", linewidth=2.2, zorder=3,
                         label=f"cascade, broadband gain "
                               f"{number(section.get('broadband_gain_db'), '+.2f')} dB")
        elif section.get("status") == "refused":
            style = dict(linestyle="--", linewidth=1.2,
                         label=f"{name}: pole radius {number(section.get('pole_radius'), '.4f')}, "
                               "REFUSED, unity instead")
            refusals.append(f"{name} refused: {section.get('reason')}")
        else:
            style = dict(linewidth=1.0, alpha=0.8,
                         label=f"{name}: pole radius {number(section.get('pole_radius'), '.4f')}")
        magnitude_axis.semilogx(frequency, column(curve, "magnitude_db", path), **style)
        phase_axis.semilogx(frequency, column(curve, "phase_deg", path), **style)
        magnitude_axis.set_xlim(frequency[0], frequency[-1])

    cascade = info.get("cascade")
    if cascade:
        peak_hz = float(cascade["peak_frequency_hz"])
        peak_db = float(cascade["peak_gain_db"])
        magnitude_axis.plot([peak_hz], [peak_db], "v", color="red", markersize=9, zorder=4,
                            label=f"peak {peak_db:+.2f} dB at {peak_hz:.1f} Hz")
    if refusals:
        magnitude_axis.text(0.01, 0.02, "\n".join(refusals), transform=magnitude_axis.transAxes,
                            fontsize=7, color="darkred", va="bottom")
    magnitude_axis.set_title(f"{rate} Hz")
    magnitude_axis.set_ylabel("magnitude (dB)")
    magnitude_axis.grid(True, which="both", alpha=0.3)
    magnitude_axis.legend(fontsize=7, loc="lower center")
    phase_axis.set_xlabel("frequency (Hz)")
    phase_axis.set_ylabel("phase (degrees, unwrapped)")
    phase_axis.grid(True, which="both", alpha=0.3)


def plot_trace(prefix):
    trace_path = prefix + ".trace.csv"
    reductions_path = prefix + ".reductions.csv"
    metadata, rows = read_csv(trace_path)
    _, reductions = read_csv(reductions_path)
    if not rows:
        raise PlotError(f"{trace_path} holds no rows")
    time = column(rows, "time_s", trace_path)
    speech = [row["speech"] == "1" for row in rows]

    figure, (level_axis, gain_axis) = plt.subplots(2, 1, figsize=FIGURE_INCHES, sharex=True)
    figure.suptitle(f"Level trace of {os.path.basename(metadata.get('recording', '?'))}, "
                    f"{metadata.get('fs_hz', '?')} Hz, profile "
                    f"{os.path.basename(metadata.get('profile', '?'))} "
                    f"(blocks of {metadata.get('block_samples', '?')} sample(s), "
                    f"output gain {metadata.get('output_gain_db', '?')} dB)")
    for axis in (level_axis, gain_axis):
        axis.fill_between(time, 0, 1, where=speech, step="post", color="tab:green", alpha=0.12,
                          transform=axis.get_xaxis_transform(), label="speech (detector)")
        axis.grid(True, alpha=0.3)

    draw = [("input_rms_dbfs", "input RMS", dict(color="tab:blue")),
            ("input_peak_dbfs", "input peak", dict(color="tab:blue", alpha=0.35, linewidth=0.8)),
            ("agc_input_rms_dbfs", "after equalizer RMS",
             dict(color="grey", linestyle=":", linewidth=1.0)),
            ("output_rms_dbfs", "output RMS", dict(color="tab:orange")),
            ("output_peak_dbfs", "output peak",
             dict(color="tab:orange", alpha=0.35, linewidth=0.8))]
    for name, label, style in draw:
        level_axis.step(time, column(rows, name, trace_path), where="post", label=label, **style)
    level_axis.set_ylim(*LEVEL_AXIS_DBFS)
    level_axis.set_ylabel("level (dBFS)")
    level_axis.legend(fontsize=8, loc="lower right", ncol=3)

    gain_axis.step(time, column(rows, "agc_gain_db", trace_path), where="post",
                   color="tab:purple", label="AGC gain")
    gain_axis.step(time, column(rows, "applied_gain_db", trace_path), where="post",
                   color="tab:pink", linewidth=0.8, label="applied gain (with duck gain)")
    gain_axis.step(time, column(rows, "max_gain_db", trace_path), where="post", color="tab:red",
                   linestyle="--", label="maximum gain")
    for reduction in reductions:
        gain_axis.axvline(float(reduction["time_s"]), color="tab:red", alpha=0.5, linewidth=0.8)
    if reductions:
        text = "maximum gain reductions:\n" + "\n".join(
            f"{r['time_s']} s: {r['from_db']} -> {r['to_db']} dB" for r in reductions)
    else:
        text = "no reduction of the maximum gain"
    gain_axis.text(0.01, 0.03, text, transform=gain_axis.transAxes, fontsize=8, va="bottom",
                   bbox=dict(facecolor="white", alpha=0.8, edgecolor="tab:red"))
    gain_axis.set_ylabel("gain (dB)")
    gain_axis.set_xlabel("time (s)")
    gain_axis.set_xlim(time[0], time[-1])
    gain_axis.legend(fontsize=8, loc="lower right", ncol=2)
    figure.tight_layout()
    save(figure, prefix + ".trace.png")


def main(argv):
    if len(argv) != 3 or argv[1] not in ("response", "trace"):
        print(USAGE, file=sys.stderr)
        return 1
    try:
        (plot_response if argv[1] == "response" else plot_trace)(argv[2])
    except PlotError as e:
        print(f"lyrane_tuning_plot.py: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
