"""`tools/world up` and `down`: files written, servers listening, clean stop, idle stop."""

import json
import os
import shutil
import socket
import subprocess
import tempfile
import time
import unittest

import worldtest
from world_lib import client


def run_world(*args):
    return subprocess.run([worldtest.PYTHON, worldtest.WORLD] + list(args),
                          capture_output=True, text=True, timeout=60)


def listening(port):
    with socket.socket() as s:
        s.settimeout(2)
        return s.connect_ex(("127.0.0.1", port)) == 0


def wait_stopped(directory, timeout=15):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        info = client.read_info(directory)
        if info.get("state") == "stopped" and not client._alive(info["pid"]):
            return True
        time.sleep(0.05)
    return False


class Lifecycle(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="world-cli-")
        self.wdir = os.path.join(self.tmp, "w")

    def tearDown(self):
        client.down(self.wdir)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def test_up_writes_configuration_and_down_stops(self):
        up = run_world("up", "--dir", self.wdir, "--json")
        self.assertEqual(up.returncode, 0, up.stderr)
        info = json.loads(up.stdout)
        with open(os.path.join(self.wdir, "downloader.cfg")) as f:
            cfg = dict(line.split("=", 1) for line in f.read().splitlines())
        self.assertEqual(cfg, {"WebServerUrl": info["web"]["host"], "StatsServerUrl": info["stats"]["host"],
                               "SupportServerUrl": info["support"]["host"], "CAFile": info["ca_file"],
                               "VolumesRoot": info["volumes_root"]})
        self.assertTrue(os.path.isfile(info["ca_file"]))
        ports = [info[k]["port"] for k in ("web", "support", "stats", "files_http", "files_https",
                                           "badcert", "control", "ftp")]
        self.assertEqual(len(set(ports)), len(ports))
        self.assertTrue(all(listening(p) for p in ports))
        self.assertEqual(sorted(os.listdir(info["volumes_root"])), ["NAVCARD", "STRIDE", "USBSTICK", "ZENITH"])
        again = run_world("up", "--dir", self.wdir)
        self.assertNotEqual(again.returncode, 0)
        self.assertIn("already up", again.stderr)
        down = run_world("down", "--dir", self.wdir)
        self.assertEqual(down.returncode, 0, down.stderr)
        self.assertTrue(wait_stopped(self.wdir))
        self.assertFalse(any(listening(p) for p in ports))
        self.assertEqual(run_world("status", "--dir", self.wdir).returncode, 1)

    def test_stops_by_itself_when_idle(self):
        self.assertEqual(run_world("up", "--dir", self.wdir, "--idle", "0.5").returncode, 0)
        self.assertTrue(wait_stopped(self.wdir))
        with open(os.path.join(self.wdir, "world.log")) as f:
            self.assertIn("stopping: idle limit", f.read())

    def test_control_from_the_command_line(self):
        self.assertEqual(run_world("up", "--dir", self.wdir).returncode, 0)
        res = run_world("fault", "--dir", self.wdir, "/downloads/POI_Europe.dat",
                        '{"kind": "status", "status": 404, "count": 2}')
        self.assertEqual(res.returncode, 0, res.stderr)
        state = json.loads(run_world("control", "--dir", self.wdir, "/state").stdout)
        self.assertEqual(state["faults"]["/downloads/POI_Europe.dat"]["steps"][0]["status"], 404)


if __name__ == "__main__":
    unittest.main()
