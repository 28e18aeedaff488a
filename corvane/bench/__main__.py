"""``python -m corvane.bench [--quick] [--only NAME] [--limits] [--json FILE] [--csv FILE]
[--plot FILE]``"""

from __future__ import annotations

import argparse
import importlib.util
import sys

from corvane.bench import output
from corvane.bench.harness import environment, run


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python -m corvane.bench",
        description="Time corvane against NumPy, pandas, SciPy and numbagg, side by side.",
    )
    parser.add_argument("--quick", action="store_true", help="fewer cases, shorter timings")
    parser.add_argument(
        "--only",
        help="only functions whose name contains this text (or one of several, comma-separated)",
    )
    parser.add_argument("--json", metavar="FILE", help="also write the rows to FILE as JSON")
    parser.add_argument("--csv", metavar="FILE", help="also write the rows to FILE as CSV")
    parser.add_argument(
        "--plot", metavar="FILE", help="also draw the speedups as a bar chart (PNG) to FILE"
    )
    parser.add_argument(
        "--limits",
        action="store_true",
        help="also measure this machine's limits and show each row as a multiple of its own",
    )
    args = parser.parse_args(argv)
    if args.plot and importlib.util.find_spec("matplotlib") is None:
        parser.error("--plot needs matplotlib: pip install matplotlib (or corvane's bench extra)")
    rows = run(quick=args.quick, only=args.only)
    if not rows:
        return 1
    if args.limits:
        from corvane.bench.limits import report

        print()
        print(report(rows))
    if args.json:
        output.write_json(args.json, rows, environment())
    if args.csv:
        output.write_csv(args.csv, rows)
    if args.plot:
        env = environment()
        title = f"corvane {env['corvane']} vs best peer; {env['cpu']}, {env['cores']} cores"
        output.write_plot(args.plot, rows, title)
    for flag, path in (("JSON", args.json), ("CSV", args.csv), ("plot", args.plot)):
        if path:
            print(f"{flag} written to {path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
