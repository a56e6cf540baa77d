#!/usr/bin/python3
"""The cost of scrolling statuses in the running program.

Installs the build into a temporary prefix and runs it as a desktop user would (bench_program.py's
desktop: an Xvfb with the xcompmgr compositing manager, so the team window is translucent, the local
team server, a session bus and a sound server). The team has 20 rows: 19 teammates and the user's own.
The same process is measured in two states, one after the other and taken in turns: 14 teammates with
statuses long enough to scroll, and the same team with short statuses that stand still. Per state:

- the CPU time of the program's own process (helper processes apart) over a fixed span, as % of one core,
  from the scheduler's run time of its threads (exact, where the kernel keeps it; else from the clock
  ticks of /proc/PID/stat);
- its threads' wake-ups (voluntary context switches) per second: the main thread, Qt's X event thread and
  the rest;
- what reaches the X server, counted by a client of our own through the DAMAGE extension: rectangles
  drawn into the team window and flushes (the drawing sent at once) per second;
- in a second run of the program, with Qt's widget painting log on (which costs time of its own, so
  not during the CPU spans): per second, the syncs in which Qt's widget tree painted something into the
  window and the paint events of its widgets.

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
import x_damage

TEAMMATES = 19
SCROLLING = 14
LONG = "Working on item {i} of the release plan"
SHORT = "Item {i}"
SETTLE = 3.0


def team(scrolling):
    return [desk.member_record(i, (LONG if scrolling and i < SCROLLING else SHORT).format(i=i))
            for i in range(TEAMMATES)]


X_THREAD = "QXcbEventQueue"


def threads(pid):
    """{thread id: (name, voluntary switches, run time in s or None)} of a process."""
    out = {}
    for task in pathlib.Path(f"/proc/{pid}/task").iterdir():
        try:
            name = (task / "comm").read_text().strip()
            status = (task / "status").read_text()
        except OSError:
            continue
        try:
            run = int((task / "schedstat").read_text().split()[0]) / 1e9
        except (OSError, ValueError, IndexError):
            run = None  # a kernel without scheduler statistics
        voluntary = next(int(line.split()[1]) for line in status.splitlines()
                         if line.startswith("voluntary_ctxt_switches"))
        out[int(task.name)] = (name, voluntary, run)
    return out


def measure_span(pid, span, damage):
    ticks = desk.own_cpu(pid)
    before = threads(pid)
    drawn = damage.snapshot()
    started = time.monotonic()
    time.sleep(span)
    elapsed = time.monotonic() - started
    ticks = desk.own_cpu(pid) - ticks
    after = threads(pid)
    rectangles, flushes = damage.since(drawn)
    # A thread that ended within the span counts for nothing: a lower bound, as the ticks are.
    exact = all(run is not None for tasks in (before, after) for _, _, run in tasks.values())
    cpu = sum(after[t][2] - (before[t][2] if t in before else 0) for t in after) if exact else ticks

    def wakeups(keep):
        return sum(after[t][1] - (before[t][1] if t in before else 0) for t in after if keep(t)) / elapsed

    return {"cpu_pct": 100 * cpu / elapsed, "exact": exact, "main_wakeups": wakeups(lambda t: t == pid),
            "x_wakeups": wakeups(lambda t: after[t][0] == X_THREAD),
            "other_wakeups": wakeups(lambda t: t != pid and after[t][0] != X_THREAD),
            "rectangles": rectangles / elapsed, "flushes": flushes / elapsed}


def start_program(prefix, env, display, as_user, stderr=subprocess.DEVNULL):
    process = subprocess.Popen([str(prefix / "bin/pondra")], env=env, stdout=subprocess.DEVNULL, stderr=stderr,
                               **as_user)
    for title in ("Pondra", "Pondra Team"):
        if not desk.wait_mapped(display, process.pid, title):
            process.kill()
            sys.exit(f"no window titled {title} appeared")
    return process


def team_window(display, pid):
    """The X id of the program's team window."""
    found = subprocess.run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(pid), "--name",
                            "^Pondra Team$"], env=dict(os.environ, DISPLAY=display), stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, text=True, check=True).stdout.split()
    return int(found[0])


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
    """Qt's painting log between two offsets: the window's syncs that painted something, widget paints."""
    with open(log, "rb") as f:
        f.seek(start)
        text = f.read(end - start).decode(errors="replace")
    syncs = text.count("Painting and flushing dirty") - text.count(
        "Painting and flushing dirty top level QRegion(null) and dirty widgets QList()")
    return syncs, text.count(": Drawing QRegion")


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
        damage = x_damage.DamageCounter(display, team_window(display, process.pid))
        for _ in range(args.rounds):
            for scrolling in (True, False):
                switch(server, scrolling)
                if scrolling and args.screenshot and not spans[True]:
                    subprocess.run(["import", "-window", "root", args.screenshot], env=dict(env, DISPLAY=display),
                                   check=False)
                spans[scrolling].append(measure_span(process.pid, args.span, damage))
        damage.close()
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

    exact = all(r["exact"] for rows in spans.values() for r in rows)
    print(f"{args.rounds} x {args.span:.0f} s per state; {TEAMMATES + 1} rows, {SCROLLING} of them scrolling; "
          f"CPU from {'the scheduler' if exact else 'clock ticks'}")
    print(f"{'state':10} {'CPU %':>7} {'per span':>24} {'main wake/s':>12} {'X wake/s':>9} {'other wake/s':>13} "
          f"{'rects/s':>8} {'flushes/s':>10} {'Qt syncs/s':>11} {'widget paints/s':>16}")
    for scrolling, name in ((True, "scrolling"), (False, "short")):
        rows = spans[scrolling]
        per_span = " ".join(f"{r['cpu_pct']:.2f}" for r in rows)

        def average(key):
            return mean([r[key] for r in rows])

        print(f"{name:10} {average('cpu_pct'):6.2f}% {per_span:>24} {average('main_wakeups'):12.1f} "
              f"{average('x_wakeups'):9.1f} {average('other_wakeups'):13.1f} {average('rectangles'):8.1f} "
              f"{average('flushes'):10.1f} {counts[scrolling][0]:11.1f} {counts[scrolling][1]:16.1f}")
    above = mean([r["cpu_pct"] for r in spans[True]]) - mean([r["cpu_pct"] for r in spans[False]])
    print(f"scrolling above short: {above:.2f} % of one core (target <= 1 %, goal 0.5 %)")


if __name__ == "__main__":
    os.chdir(desk.SOURCE)
    main()
