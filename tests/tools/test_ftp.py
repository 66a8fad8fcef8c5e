"""The phone app's FTP dialogue, checked with Python's ftplib."""

import ftplib
import io
import os
import unittest

import worldtest

SCENARIO = {"users": [], "ftp": {"password": "s3cret",
                                 "reginfo": {"devid": "IPH-42", "product": "iPhone"}}}


def listing_name(line):
    """The name in a LIST line, found the way the client finds it."""
    colon = line.find(":")
    start = colon + 4 if 1 <= colon <= 61 else 62
    name = line[start:]
    return "/" + name if line.startswith("d") else name


class PhoneFTP(worldtest.WorldCase):
    scenario = SCENARIO

    def setUp(self):
        self.control("/ftp", {"no_site": False, "no_priv": False, "refuse_login": False, "allo": "ok",
                              "allo_limit_kb": None, "drop_after": None, "list_style": "time",
                              "password": "s3cret"})
        self.ftp = ftplib.FTP()
        self.ftp.connect("127.0.0.1", self.info["ftp"]["port"], timeout=10)

    def tearDown(self):
        try:
            self.ftp.close()
        except OSError:
            pass

    def login(self, password="s3cret"):
        return self.ftp.login("Orvane", password)

    def test_identification_dialogue(self):
        self.assertTrue(self.login().startswith("230"))
        cur = self.ftp.pwd()
        self.assertEqual(cur, "/")
        self.assertEqual(self.ftp.sendcmd("SITE CALL PRIV"), "200 OK")
        self.ftp.cwd(cur + "priv")
        reg, gps = io.BytesIO(), io.BytesIO()
        self.ftp.retrbinary("RETR RegInfo.ini", reg.write)
        self.ftp.retrbinary("RETR gps.ini", gps.write)
        self.assertIn(b"devid=IPH-42\r\n", reg.getvalue())
        self.assertIn(b"product=iPhone\r\n", reg.getvalue())
        self.assertIn(b"unittype=STORAGE\r\n", reg.getvalue())
        text = gps.getvalue().decode()
        self.assertIn("[Directorios]", text)
        for key, folder in (("Maps2", "Maps"), ("Data", "Data"), ("SpeedCams", "Radars")):
            line = [ln for ln in text.splitlines() if ln.startswith(key + "=")][0]
            self.assertTrue(line.endswith("/Documents/" + folder), line)

    def test_listing_format(self):
        self.login()
        lines = []
        self.ftp.retrlines("LIST", lines.append)
        self.assertEqual(sorted(listing_name(ln) for ln in lines), ["/Data", "/Maps", "/Radars", "/priv"])
        self.control("/ftp", {"list_style": "fixed62"})
        lines = []
        self.ftp.retrlines("LIST /priv", lines.append)
        self.assertTrue(all(":" not in ln[:62] for ln in lines))
        self.assertEqual(sorted(listing_name(ln) for ln in lines), ["RegInfo.ini", "gps.ini"])

    def test_transfers_size_mdtm_rest(self):
        self.login()
        self.ftp.cwd("/Maps")
        data = bytes(range(256)) * 400
        self.assertTrue(self.ftp.storbinary("STOR europe.map", io.BytesIO(data)).startswith("226"))
        self.ftp.voidcmd("TYPE I")
        self.assertEqual(self.ftp.size("europe.map"), len(data))
        self.assertRegex(self.ftp.sendcmd("MDTM europe.map"), r"^213 \d{14}$")
        with self.assertRaises(ftplib.error_perm):
            self.ftp.size("nothing.map")
        part = io.BytesIO()
        self.ftp.retrbinary("RETR europe.map", part.write, rest=1000)  # sends REST 1000, needs 350
        self.assertEqual(part.getvalue(), data[1000:])
        with open(os.path.join(self.info["ftp"]["root"], "Maps", "europe.map"), "rb") as f:
            self.assertEqual(f.read(), data)

    def test_allo(self):
        self.login()
        # (switches, command, reply)
        cases = [({}, "ALLO 2048000", "200 OK"),
                 ({"allo": "refuse"}, "ALLO 2048000", "552 Not enough space."),
                 ({"allo": "ok_blank"}, "ALLO 1000", "200 OK "),
                 ({"allo": "202"}, "ALLO 1000", "202 No storage allocation necessary."),
                 ({"allo_limit_kb": 100}, "ALLO 100000", "200 OK"),
                 ({"allo_limit_kb": 100}, "ALLO 101000", "552 Not enough space.")]
        for switches, cmd, reply in cases:
            with self.subTest(switches=switches, cmd=cmd):
                self.control("/ftp", dict({"allo": "ok", "allo_limit_kb": None}, **switches))
                self.ftp.putcmd(cmd)
                self.assertEqual(self.ftp.getline(), reply)  # the exact line, blanks kept

    def test_abort_during_download(self):
        self.login()
        with open(os.path.join(self.info["ftp"]["root"], "Data", "big.bin"), "wb") as f:
            f.write(b"\x55" * (8 * 1024 * 1024))
        self.ftp.voidcmd("TYPE I")
        conn = self.ftp.transfercmd("RETR /Data/big.bin")
        self.assertEqual(len(conn.recv(8192)) > 0, True)
        self.ftp.putcmd("ABOR")
        conn.close()
        replies = [self.ftp.getline(), self.ftp.getline()]
        # ABOR may reach the server before or after it sees the data connection close
        self.assertTrue(replies[0].startswith("426"), replies)
        self.assertTrue(replies[1][:3] in ("225", "226"), replies)
        self.assertEqual(self.ftp.pwd(), "/")  # the control connection goes on

    def test_switches(self):
        self.control("/ftp", {"password": "other"})
        with self.assertRaises(ftplib.error_perm):
            self.login("s3cret")
        self.control("/ftp", {"password": "s3cret", "refuse_login": True})
        with self.assertRaises(ftplib.error_perm):
            self.login()
        self.control("/ftp", {"refuse_login": False, "no_site": True, "no_priv": True})
        self.login()
        with self.assertRaises(ftplib.error_perm):
            self.ftp.sendcmd("SITE CALL PRIV")
        with self.assertRaises(ftplib.error_perm):
            self.ftp.cwd("/priv")
        lines = []
        self.ftp.retrlines("LIST", lines.append)
        self.assertNotIn("/priv", [listing_name(ln) for ln in lines])

    def test_connection_dropped_mid_transfer(self):
        self.login()
        with open(os.path.join(self.info["ftp"]["root"], "Data", "mid.bin"), "wb") as f:
            f.write(b"\xaa" * 200000)
        self.control("/ftp", {"drop_after": 50000})
        got = io.BytesIO()
        try:
            self.ftp.retrbinary("RETR /Data/mid.bin", got.write)
            self.fail("the transfer should not complete")
        except (EOFError, OSError, ftplib.Error):
            pass
        self.assertLessEqual(len(got.getvalue()), 50000)
        with self.assertRaises((EOFError, OSError, ftplib.Error)):
            self.ftp.pwd()


if __name__ == "__main__":
    unittest.main()
