#!/usr/bin/python3
"""The cost of scrolling statuses in the running program.

Installs the build into a temporary prefix and runs it as a desktop user would (bench_program.py's
desktop: an Xvfb with the xcompmgr compositing manager, so the team window is translucent, the local
team server, a session bus and a sound server). The team has 20 rows: 19 teammates and the user's own.
The same process is measured in two states, one after the other and taken in turns: 14 teammates with
statuses long enough to scroll, and the same team with short statuses that stand still. Per state:

- the CPU time of the program's own process (helper processes apart) over a fixed span, as % of one core;
- its threads' wake-ups (voluntary context switches) per second, the main thread and the rest;
- in a second run of the program, with Qt's widget painting log on (which costs time of its own, so
  not during the CPU spans): per second, the repaints of the window, its flushes to the X server and
  the paint events of its widgets.

The screen is tall enough (1920x1400) for all 20 rows.

    /usr/bin/python3 bench/program/bench_marquee.py [build folder] [--span SECONDS] [--rounds N]
        [--screenshot FILE]
"""
import argparse
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import bench_program as desk

TEAMMATES = 19
SCROLLING = 14
LONG = "Working on item {i} of the release plan"
SHORT = "Item {i}"
SETTLE = 3.0


def team(scrolling):
    return [desk.member_record(i, (LONG if scrolling and i < SCROLLING else SHORT).format(i=i))
            for i in range(TEAMMATES)]


def threads(pid):
    """{thread id: (name, voluntary switches)} of a process."""
    out = {}
    for task in pathlib.Path(f"/proc/{pid}/task").iterdir():
        try:
            name = (task / "comm").read_text().strip()
            status = (task / "status").read_text()
        except OSError:
            continue
        voluntary = next(int(line.split()[1]) for line in status.splitlines()
                         if line.startswith("voluntary_ctxt_switches"))
        out[int(task.name)] = (name, voluntary)
    return out


def measure_span(pid, span):
    cpu = desk.own_cpu(pid)
    before = threads(pid)
    started = time.monotonic()
    time.sleep(span)
    elapsed = time.monotonic() - started
    cpu = desk.own_cpu(pid) - cpu
    after = threads(pid)
    main = (after[pid][1] - before[pid][1]) / elapsed
    rest = sum(after[t][1] - before.get(t, (None, 0))[1] for t in after if t != pid) / elapsed
    busiest = max(((after[t][1] - before.get(t, (None, 0))[1], after[t][0]) for t in after if t != pid),
                  default=(0, "-"))
    return {"cpu_pct": 100 * cpu / elapsed, "main_wakeups": main, "other_wakeups": rest,
            "busiest": f"{busiest[1]} {busiest[0] / elapsed:.1f}/s"}


def start_program(prefix, env, display, as_user, stderr=subprocess.DEVNULL):
    process = subprocess.Popen([str(prefix / "bin/pondra")], env=env, stdout=subprocess.DEVNULL, stderr=stderr,
                               **as_user)
    for title in ("Pondra", "Pondra Team"):
        if not desk.wait_mapped(display, process.pid, title):
            process.kill()
            sys.exit(f"no window titled {title} appeared")
    return process


def end_program(process):
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(timeout=20)
    except subprocess.TimeoutExpired:
        process.kill()


def switch(server, scrolling):
    desk.put_records(server, team(scrolling))
    time.sleep(SETTLE)


def painting_counts(log, start, end):
    """Qt's painting log between two offsets: window repaints, flushes to the X server, widget paints."""
    with open(log, "rb") as f:
        f.seek(start)
        text = f.read(end - start).decode(errors="replace")
    return (text.count("Painting and flushing dirty"), text.count("Flushing top level"),
            text.count(": Drawing QRegion"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default=str(desk.SOURCE / "build"))
    parser.add_argument("--span", type=float, default=30, help="seconds measured per state and round")
    parser.add_argument("--rounds", type=int, default=2)
    parser.add_argument("--screenshot", help="a PNG of the screen while the statuses scroll")
    args = parser.parse_args()
    build = pathlib.Path(args.build).resolve()

    work = pathlib.Path(tempfile.mkdtemp(prefix="pondra-bench-"))
    work.chmod(0o755)
    as_user = desk.as_unprivileged_user()
    helpers = []
    spans = {True: [], False: []}
    counts = {}
    try:
        prefix, display, server, _, env = desk.desktop(build, work, as_user, helpers, screen="1920x1400",
                                                       members=TEAMMATES, keep_reading=False)
        process = start_program(prefix, env, display, as_user)
        time.sleep(5)  # the team arrives and is drawn
        for _ in range(args.rounds):
            for scrolling in (True, False):
                switch(server, scrolling)
                if scrolling and args.screenshot and not spans[True]:
                    subprocess.run(["import", "-window", "root", args.screenshot], env=dict(env, DISPLAY=display),
                                   check=False)
                spans[scrolling].append(measure_span(process.pid, args.span))
        end_program(process)

        log = work / "painting.log"
        with open(log, "wb") as stderr:
            process = start_program(prefix, dict(env, QT_LOGGING_RULES="qt.widgets.painting=true"), display,
                                    as_user, stderr=stderr)
            time.sleep(5)
            for scrolling in (True, False):
                switch(server, scrolling)
                start = log.stat().st_size
                time.sleep(args.span / 2)
                counts[scrolling] = [n / (args.span / 2) for n in painting_counts(log, start, log.stat().st_size)]
            end_program(process)
    finally:
        desk.stop(helpers)
        shutil.rmtree(work, ignore_errors=True)

    def mean(values):
        return sum(values) / len(values)

    print(f"{args.rounds} x {args.span:.0f} s per state; {TEAMMATES + 1} rows, {SCROLLING} of them scrolling")
    print(f"{'state':10} {'CPU %':>7} {'per span':>24} {'main wake/s':>12} {'other wake/s':>13} "
          f"{'busiest other':>20} {'repaints/s':>11} {'flushes/s':>10} {'widget paints/s':>16}")
    for scrolling, name in ((True, "scrolling"), (False, "short")):
        rows = spans[scrolling]
        per_span = " ".join(f"{r['cpu_pct']:.2f}" for r in rows)
        print(f"{name:10} {mean([r['cpu_pct'] for r in rows]):6.2f}% {per_span:>24} "
              f"{mean([r['main_wakeups'] for r in rows]):12.1f} {mean([r['other_wakeups'] for r in rows]):13.1f} "
              f"{rows[-1]['busiest']:>20} {counts[scrolling][0]:11.1f} {counts[scrolling][1]:10.1f} "
              f"{counts[scrolling][2]:16.1f}")
    above = mean([r["cpu_pct"] for r in spans[True]]) - mean([r["cpu_pct"] for r in spans[False]])
    print(f"scrolling above short: {above:.2f} % of one core (target <= 1 %, goal 0.5 %)")


if __name__ == "__main__":
    os.chdir(desk.SOURCE)
    main()
