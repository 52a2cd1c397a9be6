#!/usr/bin/env python3
"""Loads kivrun's HTML report in headless Chromium and checks what it shows.

usage: html_browser.py CHROMIUM KIVRUN LIBRARY SUITE SOURCE_ROOT WORK

Runs the suite, loads index.html and the page of the first source file
through `chromium --headless --dump-dom`, and checks that the index shows the
criteria of the JSON result and that every line of the source page has the
state the JSON result gives it: covered, partly, missed, justified or none,
worked out here from the goals and their lines, apart from kivrun's code;
and that the page stays under 1 MB.
Exit 0 when all agree, 1 with every difference printed, 77 (skipped) when
there is no Chromium to run.
"""
import json
import os
import shutil
import subprocess
import sys
from collections import defaultdict
from html.parser import HTMLParser


class Rows(HTMLParser):
    def __init__(self):
        super().__init__()
        self.states = {}  # line -> state of its row
        self.criteria = set()

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        cls = (a.get("class") or "").split()
        if tag == "tr" and (a.get("id") or "").startswith("L"):
            self.states[int(a["id"][1:])] = next(c[2:] for c in cls if c.startswith("s-"))
        if tag == "tr" and "criterion" in cls:
            self.criteria.add(a["data-criterion"])


def dom(chromium, path):
    out = subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--dump-dom",
                          "file://" + os.path.abspath(path)], capture_output=True, text=True, timeout=120)
    if out.returncode != 0 or "<html" not in out.stdout:
        raise SystemExit(f"chromium did not render {path}: {out.stderr[-2000:]}")
    rows = Rows()
    rows.feed(out.stdout)
    return rows


def expected_states(goals):
    """Each line's state from the goals of one file, by the rule the README gives."""
    hits, justified_only, covered_by = {}, defaultdict(lambda: True), set()
    on_line = defaultdict(list)
    for g in goals:
        state = "reached" if g["reached"] else "justified" if "justification" in g else "missed"
        if g["criterion"] == "statement":
            for first, last in g.get("lines", [[g["line"], g["line"]]]):
                for n in range(first, last + 1):
                    covered_by.add(n)
                    hits[n] = hits.get(n, False) or g["reached"]
                    justified_only[n] = justified_only[n] and state != "missed"
        on_line[g["line"]].append(state)
    states = {}
    for n in covered_by | set(on_line):
        s = on_line.get(n, [])
        missed = s.count("missed")
        ran = hits.get(n, False) or "reached" in s
        if ran:
            states[n] = "partly" if missed else "covered"
        elif missed:
            states[n] = "missed"
        elif s:
            states[n] = "justified"
        else:  # a line of a block that never ran: justified where its block is
            states[n] = "justified" if justified_only[n] else "missed"
    return states


def main(chromium, kivrun, library, suite, root, work):
    if not chromium or not shutil.which(chromium):
        print("SKIPPED: no Chromium to load the report in (install the Debian package chromium)")
        return 77
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    html, result = os.path.join(work, "html"), os.path.join(work, "r.json")
    run = subprocess.run([kivrun, "run", library, suite, "-q", "--source-root", root, "--json", result,
                          "--html", html], capture_output=True, text=True)
    if run.returncode not in (0, 1):
        raise SystemExit(f"kivrun failed: {run.stderr}")
    with open(result) as f:
        r = json.load(f)
    problems = []
    index = dom(chromium, os.path.join(html, "index.html"))
    want = {c["criterion"] for c in r["coverage"]["criteria"]}
    if index.criteria != want:
        problems.append(f"index shows criteria {sorted(index.criteria)}, the result has {sorted(want)}")
    by_file = defaultdict(list)
    for g in r["goals"]:
        by_file[g["file"]].append(g)
    file = sorted(by_file)[0]
    page_path = os.path.join(html, file.replace("/", "_").replace("%", "_") + ".html")
    if os.path.getsize(page_path) >= 1_000_000:
        problems.append(f"the page of {file} has {os.path.getsize(page_path)} bytes, not under 1 MB")
    page = dom(chromium, page_path)
    want_states = expected_states(by_file[file])
    if not page.states:
        problems.append(f"the page of {file} shows no lines")
    for n, state in sorted(page.states.items()):
        if state != want_states.get(n, "none"):
            problems.append(f"{file}:{n}: the page shows {state}, the result gives {want_states.get(n, 'none')}")
    for n in sorted(set(want_states) - set(page.states)):
        problems.append(f"{file}:{n}: no row on the page")
    for p in problems:
        print(p)
    print(f"{len(page.states)} lines of {file} checked")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
