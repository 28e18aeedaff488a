"""``python -m corvane.bench [--quick] [--only NAME] [--limits]``"""

from __future__ import annotations

import argparse

from corvane.bench.harness import run


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(
        prog="python -m corvane.bench",
        description="Time corvane against NumPy, pandas, SciPy and numbagg, side by side.",
    )
    parser.add_argument("--quick", action="store_true", help="fewer cases, shorter timings")
    parser.add_argument("--only", help="only functions whose name contains this text")
    parser.add_argument(
        "--limits",
        action="store_true",
        help="also measure this machine's limits and show each row as a multiple of its own",
    )
    args = parser.parse_args(argv)
    rows = run(quick=args.quick, only=args.only)
    if args.limits:
        from corvane.bench.limits import report

        print()
        print(report(rows))


if __name__ == "__main__":
    main()
