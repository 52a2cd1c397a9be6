#!/usr/bin/env python3
"""Checks an HTML report of kivrun against the JSON of the same result.

usage: html_counts.py HTML_DIR RESULT.json

Counts the goal marks on the source pages per criterion and state (reached,
justified, missed), reads the per-criterion rows of the index, and compares
both with the goals and coverage in the JSON. Exit 0 when they agree; 1 with
every difference printed otherwise.
"""
import json
import os
import sys
from collections import Counter
from html.parser import HTMLParser


class Marks(HTMLParser):
    def __init__(self):
        super().__init__()
        self.marks = Counter()  # (criterion, state)
        self.goals = []  # data-goal of every mark
        self.rows = {}  # criterion -> (reached, justified, total) from the index

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        classes = (a.get("class") or "").split()
        if tag == "span" and "goal" in classes:
            state = next(c for c in classes if c in ("reached", "justified", "missed"))
            crit = next(c[2:] for c in classes if c.startswith("c-")).replace("-", " ")
            self.marks[(crit, state)] += 1
            self.goals.append(a["data-goal"])
        if tag == "tr" and "criterion" in classes:
            self.rows[a["data-criterion"]] = (int(a["data-reached"]), int(a["data-justified"]), int(a["data-total"]))


def main(html_dir, result_path):
    with open(result_path) as f:
        result = json.load(f)
    parser = Marks()
    for name in sorted(os.listdir(html_dir)):
        with open(os.path.join(html_dir, name), encoding="utf-8") as f:
            parser.feed(f.read())
    want = Counter()
    for g in result["goals"]:
        state = "reached" if "first" in g else "justified" if "justification" in g else "missed"
        want[(g["criterion"], state)] += 1
    problems = []
    for key in sorted(set(want) | set(parser.marks)):
        if want[key] != parser.marks[key]:
            problems.append(f"{key}: {parser.marks[key]} marks, {want[key]} goals in the JSON")
    if len(parser.goals) != len(set(parser.goals)):
        problems.append("a goal is marked twice")
    for row in result["coverage"]["criteria"]:
        got = parser.rows.get(row["criterion"])
        if got != (row["reached"], row["justified"], row["total"]):
            problems.append(f"index row {row['criterion']}: {got}, JSON {row}")
    if len(parser.rows) != len(result["coverage"]["criteria"]):
        problems.append(f"index has {len(parser.rows)} criterion rows")
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
