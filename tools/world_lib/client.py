"""Starting, driving and stopping a world from Python (used by the CLI and tests)."""

import json
import os
import signal
import subprocess
import sys
import time
import urllib.request

from .records import read_records

WORLD_JSON = "world.json"

TOOLS_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable


class WorldError(RuntimeError):
    pass


def _alive(pid):
    """True when pid runs the world daemon (not a zombie, not a recycled pid)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                return False
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return b"world_lib.daemon" in f.read()
    except (OSError, IndexError):
        return False


def read_info(directory):
    with open(os.path.join(directory, WORLD_JSON), encoding="utf-8") as f:
        return json.load(f)


def up(directory, scenario=None, idle=1800, lifetime=14400, ports=None, timeout=30):
    """Start a world in directory; return its world.json content once every server listens."""
    directory = os.path.abspath(directory)
    os.makedirs(directory, exist_ok=True)
    wj = os.path.join(directory, WORLD_JSON)
    if os.path.exists(wj):
        try:
            info = read_info(directory)
            if info.get("state") == "up" and _alive(info["pid"]):
                raise WorldError("a world is already up in %s (pid %d)" % (directory, info["pid"]))
        except ValueError:
            pass
        os.remove(wj)
    args = [PYTHON, "-m", "world_lib.daemon", "--dir", directory, "--idle", str(idle),
            "--lifetime", str(lifetime), "--ports", json.dumps(ports or {})]
    if scenario:
        args += ["--scenario", os.path.abspath(scenario)]
    out = open(os.path.join(directory, "daemon.out"), "ab")
    env = dict(os.environ)
    env["PYTHONPATH"] = TOOLS_DIR + (os.pathsep + env["PYTHONPATH"] if env.get("PYTHONPATH") else "")
    proc = subprocess.Popen(args, cwd=TOOLS_DIR, stdin=subprocess.DEVNULL, stdout=out,
                            stderr=subprocess.STDOUT, start_new_session=True, env=env)
    out.close()
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if os.path.exists(wj):
            try:
                info = read_info(directory)
            except ValueError:
                info = {}
            if info.get("pid") == proc.pid and info.get("state") == "up":
                info["_proc"] = proc
                return info
        if proc.poll() is not None:
            break
        time.sleep(0.05)
    if proc.poll() is None:
        proc.kill()
        proc.wait(5)
    with open(os.path.join(directory, "daemon.out"), errors="replace") as f:
        tail = f.read()[-3000:]
    raise WorldError("world did not come up in %s\n%s" % (directory, tail))


def control(directory_or_info, endpoint, body=None, timeout=10):
    info = directory_or_info if isinstance(directory_or_info, dict) else read_info(directory_or_info)
    url = info["control"]["url"] + endpoint
    data = None if body is None else json.dumps(body).encode()
    req = urllib.request.Request(url, data=data, method="GET" if data is None else "POST",
                                 headers={"Content-Type": "application/json"})
    with urllib.request.urlopen(req, timeout=timeout) as r:
        return json.loads(r.read().decode())


def down(directory, timeout=10, proc=None):
    """Stop the world of directory; True when it was running.  proc: the Popen
    object of up() when the caller started it (so that it is reaped)."""
    try:
        info = read_info(directory)
    except (OSError, ValueError):
        return False
    pid = info.get("pid")
    if not pid or not _alive(pid):
        if proc is not None:
            proc.wait(timeout)
        return False
    try:
        control(info, "/shutdown", {}, timeout=3)
    except OSError:
        try:
            os.kill(pid, signal.SIGTERM)
        except OSError:
            pass
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if proc is not None and proc.poll() is not None:
            return True
        if proc is None and not _alive(pid):
            return True
        time.sleep(0.05)
    try:
        os.kill(pid, signal.SIGKILL)
    except OSError:
        pass
    if proc is not None:
        proc.wait(5)
    return True


def records(directory, since=0, server=None):
    return read_records(os.path.join(directory, "records.jsonl"), since, server)
