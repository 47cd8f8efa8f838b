"""Reads a recording with Python's csv module and with pandas, options beyond the encoding
none, checks that both see the same cells, and prints {"header": [...], "rows": [[...]]}
as the csv module read it, as JSON. Exits 1 with the differences when they disagree.
    readcsv.py FILE
"""
import csv
import json
import math
import sys

import pandas


def same(text, value):
    if text == "":
        return isinstance(value, float) and math.isnan(value)
    if isinstance(value, str):
        return value == text
    return float(text) == float(value)


def main(path):
    with open(path, encoding="utf-8-sig", newline="") as f:
        rows = list(csv.reader(f, strict=True))
    if not rows:
        print("no header row", file=sys.stderr)
        return 1
    frame = pandas.read_csv(path, encoding="utf-8-sig")
    header, body = rows[0], rows[1:]
    problems = []
    if list(frame.columns) != header:
        problems.append(f"pandas columns {list(frame.columns)}, csv header {header}")
    if len(frame) != len(body):
        problems.append(f"pandas {len(frame)} rows, csv {len(body)}")
    for i, row in enumerate(body[: len(frame)]):
        if len(row) != len(header):
            problems.append(f"row {i + 1}: {len(row)} fields")
            continue
        for j, text in enumerate(row):
            value = frame.iat[i, j]
            if not same(text, value):
                problems.append(f"row {i + 1}, {header[j]}: csv {text!r}, pandas {value!r}")
    if problems:
        print("\n".join(problems[:20]), file=sys.stderr)
        return 1
    json.dump({"header": header, "rows": body}, sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
