#!/usr/bin/python3
"""Start-up and idle cost of the installed program, beside a bare Qt tray program.

Installs the build into a temporary prefix, starts an Xvfb with a compositing
manager and the local team server with a 20-member team, then for the program
and for the floor (bench/program/bench_floor.cpp) measures: the time from start
to the main window mapped, and over 60 s of idle the CPU time (helper processes
included, and shown apart) and the PSS (the process and its live children).

Both run as a desktop user's would: with a session bus and a sound server of
their own, and, when the script is run as root, as the unprivileged user
"nobody" (as root every kernel thread would count among the user's processes
that the meeting look reads).

    /usr/bin/python3 bench/program/bench_program.py [build folder] [--idle SECONDS]
"""
import argparse
import base64
import json
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

SOURCE = pathlib.Path(__file__).resolve().parents[2]
TICKS = os.sysconf("SC_CLK_TCK")
TEAM = "Bench"
NOBODY = 65534
MEMBERS = 20


def start_xvfb(size="1920x1080"):
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", f"{size}x24"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    display = ":" + xvfb.stdout.readline().strip()
    env = dict(os.environ, DISPLAY=display)
    compositor = subprocess.Popen(["xcompmgr"], env=env, stderr=subprocess.DEVNULL)
    return display, [compositor, xvfb]


def member_record(i, status="Focus"):
    photos = sorted((SOURCE / "tests/data").glob("*.jpg"))
    return {
        "id": f"member-{i}", "name": f"Member {i}", "team": TEAM, "isPondra": i % 3 != 0,
        "isIdle": False, "idleState": "active", "idleSeconds": 3, "status": status,
        "photo": base64.b64encode(photos[i % len(photos)].read_bytes()).decode(),
        "lastUpdate": "2026-01-05T12:00:00Z",
    }


def put_records(server, records):
    """Puts each record on the server and waits for its answer; each one is pushed to the team."""
    for record in records:
        server.stdin.write(json.dumps({"cmd": "putRecord", "record": record}) + "\n")
        server.stdin.flush()
        while json.loads(server.stdout.readline()).get("event") != "ack":
            pass


def start_server(build, members=MEMBERS, keep_reading=True):
    server = subprocess.Popen([str(build / "tests/teamserver/pondra-team-server"), "--port", "0", "--commands"],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    port = None
    while port is None:
        event = json.loads(server.stdout.readline())
        if event.get("event") == "listening":
            port = event["port"]
    put_records(server, [member_record(i) for i in range(members)])
    if keep_reading:
        drain(server)
    return server, port


def drain(server):
    # Its log goes on (every request with its body): keep reading, or it stalls on a full pipe.
    threading.Thread(target=lambda: [None for _ in server.stdout], daemon=True).start()


def start_sound_server(env, home, as_user):
    """A PulseAudio daemon with one null sink, at the user's usual socket."""
    script = home / "sound.pa"
    script.write_text("load-module module-native-protocol-unix\nload-module module-null-sink\n")
    daemon = subprocess.Popen(["pulseaudio", "-n", "-F", str(script), "--exit-idle-time=-1", "--daemonize=no",
                               "--use-pid-file=no", "--system=no", "--disallow-exit"],
                              env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **as_user)
    socket = pathlib.Path(env["XDG_RUNTIME_DIR"]) / "pulse/native"
    deadline = time.monotonic() + 15
    while not socket.exists():
        if daemon.poll() is not None or time.monotonic() > deadline:
            sys.exit("the sound server did not start")
        time.sleep(0.02)
    return daemon


def descendants(pid):
    children = []
    try:
        for task in pathlib.Path(f"/proc/{pid}/task").iterdir():
            text = (task / "children").read_text().split()
            children += [int(c) for c in text]
    except OSError:
        return []
    out = list(children)
    for child in children:
        out += descendants(child)
    return out


def cpu_seconds(pid, with_reaped=True):
    """utime + stime (+ the reaped children's) of a process, in seconds."""
    try:
        fields = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    ticks = int(fields[11]) + int(fields[12])
    if with_reaped:
        ticks += int(fields[13]) + int(fields[14])
    return ticks / TICKS


def tree_cpu(pid):
    return cpu_seconds(pid) + sum(cpu_seconds(c, with_reaped=True) for c in descendants(pid))


def own_cpu(pid):
    return cpu_seconds(pid, with_reaped=False)


def pss_kib(pid):
    total = 0
    for p in [pid] + descendants(pid):
        try:
            for line in pathlib.Path(f"/proc/{p}/smaps_rollup").read_text().splitlines():
                if line.startswith("Pss:"):
                    total += int(line.split()[1])
        except OSError:
            pass
    return total


def wait_mapped(display, pid, title, timeout=30):
    env = dict(os.environ, DISPLAY=display)
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = subprocess.run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(pid), "--name", f"^{title}$"],
                               env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout.strip()
        if found:
            return True
        time.sleep(0.005)
    return False


def measure(name, argv, env, display, title, idle, as_user):
    started = time.monotonic()
    process = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **as_user)
    if not wait_mapped(display, process.pid, title):
        process.kill()
        sys.exit(f"{name}: no window titled {title} appeared")
    mapped = time.monotonic() - started
    time.sleep(5)  # the team arrives and is drawn; idle starts after that
    cpu_before = tree_cpu(process.pid)
    own_before = own_cpu(process.pid)
    samples = []
    end = time.monotonic() + idle
    while time.monotonic() < end:
        samples.append(pss_kib(process.pid))
        time.sleep(min(5, max(0.0, end - time.monotonic())))
    cpu = tree_cpu(process.pid) - cpu_before
    own = own_cpu(process.pid) - own_before
    process.send_signal(signal.SIGTERM)
    try:
        code = process.wait(timeout=20)
    except subprocess.TimeoutExpired:
        process.kill()
        code = "hung"
    return {"name": name, "mapped_s": mapped, "cpu_s": cpu, "own_s": own, "cpu_pct": 100 * cpu / idle,
            "pss_mib": max(samples) / 1024, "pss_mean_mib": sum(samples) / len(samples) / 1024, "exit": code}


def as_unprivileged_user():
    """Popen arguments that run a process as "nobody" when the script runs as root, else none."""
    return dict(user=NOBODY, group=NOBODY, extra_groups=[]) if os.geteuid() == 0 else {}


def stop(helpers):
    for helper in helpers:
        helper.terminate()
        try:
            helper.wait(timeout=5)
        except subprocess.TimeoutExpired:
            helper.kill()


def desktop(build, work, as_user, helpers, screen="1920x1080", **server_args):
    """Installs the build under `work`, then starts what a desktop user's program meets: an Xvfb with a
    compositing manager, the local team server, a session bus and a sound server. Started processes go
    into `helpers` (first to stop first). Returns the install prefix, the display, the team server, its
    port and the program's environment."""
    prefix = work / "prefix"
    subprocess.run(["cmake", "--install", str(build), "--prefix", str(prefix)], check=True,
                   stdout=subprocess.DEVNULL)
    display, started = start_xvfb(screen)
    helpers += started
    server, port = start_server(build, **server_args)
    helpers.insert(0, server)

    home = work / "home"
    for folder in ("config/Pondra", "data", "cache", "runtime", "camera"):
        (home / folder).mkdir(parents=True)
    (home / "runtime").chmod(0o700)
    shutil.copy(SOURCE / "tests/data/grace_hopper.jpg", home / "camera/1.jpg")
    (home / "config/Pondra/Pondra.conf").write_text(
        "[General]\n"
        f"serverBaseURL=http://127.0.0.1:{port}\nuserName=Bench User\nteamName={TEAM}\n")
    if as_user:
        for path in [home, *home.rglob("*")]:
            os.chown(path, NOBODY, NOBODY)
    env = {k: v for k, v in os.environ.items()
           if k not in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "PULSE_SERVER", "DBUS_SESSION_BUS_ADDRESS",
                        "QT_LOGGING_RULES")}
    env.update(DISPLAY=display, HOME=str(home), XDG_CONFIG_HOME=str(home / "config"),
               XDG_DATA_HOME=str(home / "data"), XDG_CACHE_HOME=str(home / "cache"),
               XDG_RUNTIME_DIR=str(home / "runtime"), PONDRA_FILE_CAMERA_DIR=str(home / "camera"))
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                           stdout=subprocess.PIPE, text=True, env=env, **as_user)
    helpers.insert(0, bus)
    env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
    helpers.insert(0, start_sound_server(env, home, as_user))
    return prefix, display, server, port, env


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default=str(SOURCE / "build"))
    parser.add_argument("--idle", type=float, default=60)
    args = parser.parse_args()
    build = pathlib.Path(args.build).resolve()

    work = pathlib.Path(tempfile.mkdtemp(prefix="pondra-bench-"))
    work.chmod(0o755)
    as_user = as_unprivileged_user()
    helpers = []
    try:
        prefix, display, _, port, env = desktop(build, work, as_user, helpers)
        floor = prefix / "bin/pondra-bench-floor"
        shutil.copy(build / "bench/pondra-bench-floor", floor)
        token = subprocess.run(["grep", "-m1", "PONDRA_DEFAULT_API_TOKEN:", str(build / "CMakeCache.txt")],
                               stdout=subprocess.PIPE, text=True).stdout.strip().split("=", 1)[-1]
        results = [
            measure("pondra", [str(prefix / "bin/pondra")], env, display, "Pondra", args.idle, as_user),
            measure("floor", [str(floor), f"ws://127.0.0.1:{port}/pondra/ws?token={token}"], env, display,
                    "Floor", args.idle, as_user),
        ]
    finally:
        stop(helpers)
        shutil.rmtree(work, ignore_errors=True)

    print(f"{'':8} {'mapped':>9} {'idle CPU':>10} {'helpers':>8} {'CPU %':>7} {'PSS max':>9} {'PSS mean':>9} "
          f"{'exit':>5}")
    for r in results:
        print(f"{r['name']:8} {r['mapped_s']*1000:7.0f}ms {r['cpu_s']:9.2f}s {r['cpu_s'] - r['own_s']:7.2f}s "
              f"{r['cpu_pct']:6.2f}% "
              f"{r['pss_mib']:7.1f}MB {r['pss_mean_mib']:7.1f}MB {r['exit']!s:>5}")
    floor = results[1]["cpu_s"] or 1e-9
    print(f"idle CPU, program / floor: {results[0]['cpu_s'] / floor:.2f}x (goal <= 3x); "
          f"mapped goal <= 1000 ms; PSS goal <= 60 MB")


if __name__ == "__main__":
    main()
