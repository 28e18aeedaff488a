"""``python -m corvane.bench [--quick] [--only NAME]``"""

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
    args = parser.parse_args(argv)
    run(quick=args.quick, only=args.only)


if __name__ == "__main__":
    main()
