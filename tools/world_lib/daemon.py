"""The background process started by `world up`."""

import argparse
import json
import sys

from .world import World


def main(argv=None):
    ap = argparse.ArgumentParser(prog="world-daemon")
    ap.add_argument("--dir", required=True)
    ap.add_argument("--scenario")
    ap.add_argument("--idle", type=float, default=1800)
    ap.add_argument("--lifetime", type=float, default=14400)
    ap.add_argument("--ports", default="{}")
    a = ap.parse_args(argv)
    world = World(a.dir, a.scenario, a.idle, a.lifetime, json.loads(a.ports))
    try:
        world.start()
    except Exception:
        world.log("start failed", exc=True)
        world.stopping.set()
        world.stop()
        raise
    world.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
