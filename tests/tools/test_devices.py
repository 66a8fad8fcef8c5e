"""Device volumes: every kind is recognised by the probe order the program uses."""

import os
import shutil
import subprocess
import tempfile
import unittest

import worldtest
from world_lib import devices

MAKE_DEVICES = os.path.join(worldtest.TOOLS, "make-devices")


def read_ini(path):
    values = {}
    with open(path, newline="") as f:
        for line in f.read().replace("\r", "\n").split("\n"):
            if len(line) <= 2 or "=" not in line:
                continue
            k, v = line.split("=", 1)
            values.setdefault(k.strip(" \t"), v)
    return values


def probe(root):
    """The volume classification codes, in the program's order of checks."""
    def has(rel):
        return os.path.exists(os.path.join(root, rel))

    def internal():
        p = os.path.join(root, "Orvane/RegInfo.ini")
        if not os.path.exists(p):
            return True
        r = read_ini(p)
        prod, unit = r.get("product", "").upper(), r.get("unittype", "").upper()
        if prod == "RIDGEWAY":
            return unit != "STORAGE CARD"
        if prod in ("STRIDE", "STRIDEPLUS", "STRIDE2", "STRIDE2PLUS", "PULSE", "PULSEPLUS"):
            return unit != "SD CARD"
        return not (prod == "FJORD" and unit == "SDMMC")
    if has("OrvaneData/RegInfo.ini") and read_ini(os.path.join(root, "OrvaneData/RegInfo.ini")).get("os") == "Android":
        return 1
    if has("OrvaneData/AppData/RegInfo.ini") and \
            read_ini(os.path.join(root, "OrvaneData/AppData/RegInfo.ini")).get("product") == "Summit":
        return 8
    if has("Orvane/gps.ini") and internal():
        return 1
    if has("AppData/RegInfo.ini"):
        return 10
    if has("OrvaneData/RegInfo.ini") or has("RegInfo.ini"):
        return 2
    if has("OrvaneData/AppData/temp/RegInfo.ini") and internal():
        return 101
    return 0


class Devices(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="world-devices-")
        self.root = os.path.join(self.tmp, "volumes")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def test_every_kind_is_recognised(self):
        expected = {"android": 1, "summit": 8, "recover": 101, "plain": 0, "card-only": 2}
        for kind in devices.all_kinds():
            if kind in devices.DESKTOP:
                continue
            with self.subTest(kind=kind):
                vol = "V_" + kind.replace("-", "_")
                devices.build_all(self.root, [{"kind": kind, "volume": vol}])
                layout = devices.KINDS.get(kind, (None, None))[1]
                code = expected.get(kind, 10 if layout == "linux" else 1)
                self.assertEqual(probe(os.path.join(self.root, vol)), code)

    def test_device_and_card_share_the_device_id(self):
        made = devices.build_all(self.root, [{"kind": "stride", "volume": "NAVI", "card": "NAVCARD",
                                              "devid": "D-77"}])
        self.assertEqual([os.path.basename(p) for p in made], ["NAVI", "NAVCARD"])
        dev = read_ini(os.path.join(self.root, "NAVI/Orvane/RegInfo.ini"))
        card = read_ini(os.path.join(self.root, "NAVCARD/OrvaneData/RegInfo.ini"))
        self.assertEqual((dev["devid"], card["devid"]), ("D-77", "D-77"))
        self.assertEqual((dev["unittype"], card["unittype"]), ("INTERNAL", "SD CARD"))
        self.assertEqual(probe(os.path.join(self.root, "NAVCARD")), 2)
        gps = read_ini(os.path.join(self.root, "NAVI/Orvane/gps.ini"))
        self.assertEqual(gps["Maps2"], "\\INTERNAL\\OrvaneData\\Maps;\\SD CARD\\OrvaneData\\Maps")
        for folder in ("NAVI/OrvaneData/Maps", "NAVCARD/OrvaneData/Maps"):
            self.assertTrue(os.path.isdir(os.path.join(self.root, folder)))
        with open(os.path.join(self.root, "NAVI/Orvane/RegInfo.ini"), "rb") as f:
            self.assertIn(b"\r\n", f.read())

    def test_cards_of_each_line(self):
        for kind, unit in (("ridgeway", "STORAGE CARD"), ("fjord", "SDMMC"), ("orvane-zenith-2018", "SD CARD")):
            with self.subTest(kind=kind):
                devices.build_all(self.root, [{"kind": kind, "volume": "D" + kind[:3], "card": "C" + kind[:3]}])
                card = os.path.join(self.root, "C" + kind[:3])
                reg = os.path.join(card, "RegInfo.ini" if kind.startswith("orvane-") else "OrvaneData/RegInfo.ini")
                self.assertEqual(read_ini(reg)["unittype"], unit)
                self.assertEqual(probe(card), 2)
        with self.assertRaises(devices.DeviceError):
            devices.build_all(self.root, [{"kind": "summit", "volume": "S", "card": "SC"}])

    def test_desktop_installs(self):
        home = os.path.join(self.tmp, "home")
        devices.build_all(self.root, [{"kind": "meadow"}, {"kind": "orvane-pc"}], home=home)
        reg = read_ini(os.path.join(home, "appdata/QuillmapMeadow/RegInfo.ini"))
        self.assertEqual(reg["product"], "Quillmap MEADOW")
        self.assertNotIn("unittype", reg)
        self.assertTrue(os.path.isdir(os.path.join(home, "apps/QuillmapMeadow.app")))
        self.assertEqual(read_ini(os.path.join(home, "appdata/Orvane/RegInfo.ini"))["os"], "Windows")
        self.assertIn("Maps2", read_ini(os.path.join(home, "appdata/QuillmapMeadow/gps.ini")))

    def test_files_stay_inside_the_volume(self):
        with self.assertRaises(devices.DeviceError):
            devices.build_all(self.root, [{"kind": "plain", "volume": ".."}])
        with self.assertRaises(devices.DeviceError):
            devices.build_all(self.root, [{"kind": "stride", "volume": "X", "files": {"../../evil": "x"}}])

    def test_command_line(self):
        p = subprocess.run([worldtest.PYTHON, MAKE_DEVICES, "--root", self.root,
                            "--device", "pulse:PULSE,card=PCARD,devid=P-1", "--device", "android:PHONE"],
                           capture_output=True, text=True, timeout=30)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual(sorted(os.listdir(self.root)), ["PCARD", "PHONE", "PULSE"])
        self.assertEqual(read_ini(os.path.join(self.root, "PCARD/OrvaneData/RegInfo.ini"))["devid"], "P-1")

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("unshare"), "needs root and unshare")
    def test_tmpfs_volumes_in_a_private_mount_namespace(self):
        script = ('"$0" "$1" --root "$2" --device stride:SMALL,size=2M,card=CARD,card_size=1M >/dev/null '
                  '&& df -k "$2/SMALL" "$2/CARD" | tail -n 2')
        p = subprocess.run(["unshare", "--mount", "--propagation", "private", "sh", "-c", script,
                            worldtest.PYTHON, MAKE_DEVICES, self.root], capture_output=True, text=True, timeout=30)
        if p.returncode != 0 and "unshare" in p.stderr:
            self.skipTest("no mount namespaces here: " + p.stderr.strip())
        self.assertEqual(p.returncode, 0, p.stderr)
        sizes = [int(line.split()[1]) for line in p.stdout.strip().splitlines()]
        self.assertEqual(sizes, [2048, 1024])
        # the mounts lived only in the namespace
        self.assertEqual(os.listdir(os.path.join(self.root, "SMALL")), [])


if __name__ == "__main__":
    unittest.main()
