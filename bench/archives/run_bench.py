#!/usr/bin/python3
"""Archive extraction benchmark (not a test; never run by CI).

Generates a 1 GiB zip of 1000 members and a tar.gz of the same members, then extracts each,
alternating, with the program's packed-file code (the bench_archives harness) and with
`unzip -o -q` / `tar -xzf`. Prints the median ratios (wall time for zip, CPU time for tar.gz)
and the harness's peak RSS, against the targets: <= 1.0 x unzip, <= 1.0 x tar's CPU, < 32 MiB.

    bench/archives/run_bench.py --harness BUILD/bench/archives/bench_archives [--rounds 5]
        [--work DIR] [--members 1000] [--member-size 1048576]

The archives are kept in the work folder and reused when present with the same parameters.
"""
import argparse
import io
import os
import random
import shutil
import statistics
import subprocess
import sys
import tarfile
import time
import zipfile

TARGET_ZIP_WALL = 1.0
TARGET_TGZ_CPU = 1.0
TARGET_RSS_MIB = 32.0


def member_content(i, size):
    """Deterministic content like map data: three quarters from a small alphabet, one quarter random."""
    rng = random.Random(i)
    semi = size * 3 // 4
    table = bytes.maketrans(bytes(range(256)), bytes((b % 16) * 7 + 32 for b in range(256)))
    return rng.randbytes(semi).translate(table) + rng.randbytes(size - semi)


def member_name(i):
    return "maps/region%02d/tile%04d.img" % (i % 20, i)


def generate(work, members, size):
    stamp = os.path.join(work, "params")
    params = "%d %d\n" % (members, size)
    zip_path = os.path.join(work, "bench.zip")
    tgz_path = os.path.join(work, "bench.tar")  # gzip-compressed under a ".tar" name, as products come
    if os.path.exists(stamp) and open(stamp).read() == params and os.path.exists(zip_path) and os.path.exists(tgz_path):
        return zip_path, tgz_path
    print("generating %d members of %d bytes in %s ..." % (members, size, work), flush=True)
    with zipfile.ZipFile(zip_path, "w", zipfile.ZIP_DEFLATED, allowZip64=True) as zf:
        for i in range(members):
            zf.writestr(zipfile.ZipInfo(member_name(i), (2021, 6, 1, 12, 0, 0)), member_content(i, size),
                        compress_type=zipfile.ZIP_DEFLATED)
    with tarfile.open(tgz_path, "w:gz", format=tarfile.PAX_FORMAT) as tf:
        for i in range(members):
            data = member_content(i, size)
            ti = tarfile.TarInfo(member_name(i))
            ti.size = len(data)
            ti.mtime = 1622548800
            tf.addfile(ti, io.BytesIO(data))
    with open(stamp, "w") as f:
        f.write(params)
    return zip_path, tgz_path


def run(cmd, dest):
    """Runs cmd into a fresh dest; returns (wall seconds, CPU seconds, peak RSS MiB)."""
    shutil.rmtree(dest, ignore_errors=True)
    os.makedirs(dest)
    t0 = time.perf_counter()
    proc = subprocess.Popen(cmd, cwd=dest)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - t0
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit("failed (%d): %s" % (proc.returncode, " ".join(cmd)))
    shutil.rmtree(dest, ignore_errors=True)  # not timed; keeps the disk use to one extraction
    # wait4 reports the child with every descendant it waited for (tar's gzip included).
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--harness", required=True)
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--work", default=os.path.join(os.environ.get("TMPDIR", "/tmp"), "dl-bench-archives"))
    ap.add_argument("--members", type=int, default=1000)
    ap.add_argument("--member-size", type=int, default=1 << 20)
    a = ap.parse_args()
    harness = os.path.abspath(a.harness)
    os.makedirs(a.work, exist_ok=True)
    zip_path, tgz_path = generate(a.work, a.members, a.member_size)
    out = os.path.join(a.work, "out")

    zip_ratio, tgz_ratio, rss = [], [], []
    for r in range(a.rounds):
        # Alternate which side goes first, so that neither always meets a warmer page cache.
        pairs = [("ours", [harness, zip_path, out + "/zip-ours"]), ("unzip", ["unzip", "-o", "-q", zip_path, "-d", out + "/zip-unzip"])]
        if r % 2:
            pairs.reverse()
        res = {k: run(c, c[-1]) for k, c in pairs}
        zip_ratio.append(res["ours"][0] / res["unzip"][0])
        rss.append(res["ours"][2])

        pairs = [("ours", [harness, tgz_path, out + "/tgz-ours"]), ("tar", ["tar", "-xzf", tgz_path, "-C", out + "/tgz-tar"])]
        if r % 2 == 0:
            pairs.reverse()
        res2 = {k: run(c, c[-1]) for k, c in pairs}
        tgz_ratio.append(res2["ours"][1] / res2["tar"][1])
        rss.append(res2["ours"][2])
        print("round %d: zip wall %.2fs vs unzip %.2fs; tar.gz CPU %.2fs vs tar %.2fs; peak RSS %.1f MiB"
              % (r + 1, res["ours"][0], res["unzip"][0], res2["ours"][1], res2["tar"][1], max(res["ours"][2], res2["ours"][2])),
              flush=True)

    zr, tr, peak = statistics.median(zip_ratio), statistics.median(tgz_ratio), max(rss)
    ok = zr <= TARGET_ZIP_WALL and tr <= TARGET_TGZ_CPU and peak < TARGET_RSS_MIB
    print("zip    wall ratio (ours / unzip -o -q): median %.3f  (target <= %.1f)" % (zr, TARGET_ZIP_WALL))
    print("tar.gz CPU ratio  (ours / tar -xzf):    median %.3f  (target <= %.1f)" % (tr, TARGET_TGZ_CPU))
    print("peak RSS of the harness: %.1f MiB  (target < %.0f MiB)" % (peak, TARGET_RSS_MIB))
    print("targets met" if ok else "TARGETS MISSED")
    shutil.rmtree(out, ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
