"""Shared helpers of the world's tests: a world of its own per test class."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.normpath(os.path.join(HERE, "..", "..", "tools"))
if TOOLS not in sys.path:
    sys.path.insert(0, TOOLS)

from world_lib import client  # noqa: E402

WORLD = os.path.join(TOOLS, "world")
PYTHON = "/usr/bin/python3"


class WorldCase(unittest.TestCase):
    """Starts a world in a temporary folder for the class and stops it after."""

    scenario = None  # a dict, a path, or None for the demo scenario

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="world-test-")
        cls.wdir = os.path.join(cls.tmp, "world")
        scen = cls.scenario
        if isinstance(scen, dict):
            path = os.path.join(cls.tmp, "scenario.json")
            with open(path, "w") as f:
                json.dump(scen, f)
            scen = path
        info = client.up(cls.wdir, scen, idle=300, lifetime=900)
        cls.proc = info.pop("_proc")
        cls.info = info
        cls.ca = info["ca_file"]

    @classmethod
    def tearDownClass(cls):
        client.down(cls.wdir, proc=cls.proc)
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def control(self, endpoint, body=None):
        return client.control(self.info, endpoint, body)

    def last_seq(self):
        recs = client.records(self.wdir)
        return max((r["seq"] for r in recs), default=0)

    def wait_records(self, since, server, count=1, timeout=10):
        """Records of server after since, waiting (bounded) until count are there."""
        deadline = time.monotonic() + timeout
        while True:
            recs = client.records(self.wdir, since, server)
            if len(recs) >= count or time.monotonic() > deadline:
                return recs
            time.sleep(0.02)

    def curl(self, *args, timeout=30):
        """Run curl; returns (exit code, http code, bytes downloaded, stdout)."""
        cmd = ["curl", "-s", "--cacert", self.ca, "-w", "\n%{http_code} %{size_download}"] + list(args)
        p = subprocess.run(cmd, capture_output=True, timeout=timeout)
        out, _, tail = p.stdout.rpartition(b"\n")
        code, size = tail.decode().split()
        return p.returncode, int(code), int(size), out
