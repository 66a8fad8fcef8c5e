#!/usr/bin/python3
"""Download benchmark: the program's transfer layer against `curl -o`.

Starts a simulated world, then downloads a generated body (1 GiB by default) over loopback,
alternating the harness (bench_http_fetch, built from the same library as the program) and
curl into the same folder, several runs each; then the same for resuming a half-downloaded
file. Prints the median time of each, the ratio, and the peak RSS of each.
Targets: at most 1.05 x curl's time; harness peak RSS under 32 MiB, not growing with size.

    bench/http/bench_http.py --build /work/build [--size 1073741824] [--runs 5] [--dir /tmp/x]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
WORLD = [sys.executable, os.path.join(SOURCE, "tools", "world")]


def timed(argv):
    """Runs argv; returns (seconds, peak RSS in KiB). The peak comes from /usr/bin/time, a small
    parent: a child forked straight from Python would count Python's own pages."""
    start = time.monotonic()
    proc = subprocess.run(["/usr/bin/time", "-f", "RSSKB=%M"] + argv, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE)
    elapsed = time.monotonic() - start
    err = proc.stderr.decode(errors="replace")
    if proc.returncode != 0:
        raise SystemExit("failed: %s\n%s" % (" ".join(argv), err))
    rss = [int(l[6:]) for l in err.splitlines() if l.startswith("RSSKB=")]
    return elapsed, rss[-1] if rss else 0


def copy_prefix(src, dst, length):
    with open(src, "rb") as fi, open(dst, "wb") as fo:
        remaining = length
        while remaining > 0:
            n = os.copy_file_range(fi.fileno(), fo.fileno(), remaining)
            if n <= 0:
                break
            remaining -= n


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", required=True, help="build folder holding bench/http/bench_http_fetch")
    ap.add_argument("--size", type=int, default=1 << 30)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--dir", help="work folder (default: a new temporary folder, removed at the end)")
    a = ap.parse_args()

    harness = os.path.join(a.build, "bench", "http", "bench_http_fetch")
    if not os.access(harness, os.X_OK):
        raise SystemExit("build the harness first: ninja -C %s bench_http_fetch" % a.build)
    curl = shutil.which("curl")
    if not curl:
        raise SystemExit("curl is not installed")
    work = a.dir or tempfile.mkdtemp(prefix="bench-http-")
    os.makedirs(work, exist_ok=True)
    world_dir = os.path.join(work, "world")
    subprocess.run(WORLD + ["up", "--dir", world_dir], check=True, stdout=subprocess.DEVNULL)
    try:
        import json
        with open(os.path.join(world_dir, "world.json")) as f:
            info = json.load(f)
        url = "%s/gen/1/%d/big.bin" % (info["files_http"]["url"], a.size)
        mine = os.path.join(work, "mine.bin")
        theirs = os.path.join(work, "curl.bin")

        def run_mine():
            for p in (mine, mine + ".part"):
                if os.path.exists(p):
                    os.remove(p)
            return timed([harness, url, mine, "--expected", str(a.size)])

        def run_curl():
            if os.path.exists(theirs):
                os.remove(theirs)
            return timed([curl, "-s", "-f", "-o", theirs, url])

        half = a.size // 2

        def resume_mine():
            copy_prefix(theirs, mine + ".part", half)
            if os.path.exists(mine):
                os.remove(mine)
            return timed([harness, url, mine, "--expected", str(a.size)])

        def resume_curl():
            copy_prefix(theirs + ".full", theirs, half)
            return timed([curl, "-s", "-f", "-C", "-", "-o", theirs, url])

        results = {}
        for label, fa, fb in (("full download", run_mine, run_curl), ("resume from half", resume_mine, resume_curl)):
            if label.startswith("resume"):
                os.replace(theirs, theirs + ".full")  # the reference body for the prefixes
                shutil.copyfile(theirs + ".full", theirs)
            t_mine, t_curl, rss_mine, rss_curl = [], [], [], []
            for i in range(a.runs):
                # Alternate who goes first, so that cache effects favour neither.
                order = [(fa, t_mine, rss_mine), (fb, t_curl, rss_curl)]
                if i % 2:
                    order.reverse()
                for fn, times, rss in order:
                    t, m = fn()
                    times.append(t)
                    rss.append(m)
            if os.path.getsize(mine) != a.size or os.path.getsize(theirs) != a.size:
                raise SystemExit("%s: wrong sizes %d / %d" % (label, os.path.getsize(mine), os.path.getsize(theirs)))
            with open(mine, "rb") as f1, open(theirs, "rb") as f2:
                while True:
                    b1, b2 = f1.read(1 << 20), f2.read(1 << 20)
                    if b1 != b2:
                        raise SystemExit("%s: the two files differ" % label)
                    if not b1:
                        break
            results[label] = (statistics.median(t_mine), statistics.median(t_curl), max(rss_mine), max(rss_curl))

        print("size %d bytes, %d runs each, loopback" % (a.size, a.runs))
        for label, (tm, tc, rm, rc) in results.items():
            print("%-17s harness %.3f s  curl %.3f s  ratio %.3f  peak RSS harness %.1f MiB  curl %.1f MiB"
                  % (label, tm, tc, tm / tc, rm / 1024.0, rc / 1024.0))
        worst = max(r[0] / r[1] for r in results.values())
        rss = max(r[2] for r in results.values()) / 1024.0
        verdict = "PASS" if worst <= 1.05 and rss < 32 else "FAIL"
        print("target: ratio <= 1.05 and harness RSS < 32 MiB: %s (worst ratio %.3f, RSS %.1f MiB)"
              % (verdict, worst, rss))
        return 0 if verdict == "PASS" else 1
    finally:
        subprocess.run(WORLD + ["down", "--dir", world_dir], stdout=subprocess.DEVNULL)
        if not a.dir:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
