"""Web service, statistics sink and support sink, driven by the world's own client side."""

import json
import os
import subprocess
import tempfile
import unittest

import worldtest
from world_lib import clients, crypto

DEMO = {"user": "demo@example.com", "password": "demo-password", "token": "demo-token-7f3a",
        "session": "demo-session-20240101"}


class WebService(worldtest.WorldCase):
    def setUp(self):
        self.control("/web", {"clear": True})

    def login(self, **over):
        d = dict(DEMO, **over)
        return clients.login(self.info["web"]["index_url"], self.ca, d["user"], d["password"],
                             d["token"], d["session"])

    def products(self, session=DEMO["session"], token=DEMO["token"]):
        return clients.products(self.info["web"]["index_url"], self.ca, session, token)

    def test_login_and_product_list_round_trip(self):
        since = self.last_seq()
        status, _, text = self.login()
        self.assertEqual(status, 200)
        self.assertEqual(json.loads(text), {
            "loginOK": True, "SessionId": DEMO["session"], "Token": DEMO["token"],
            "UserName": "Demo User", "Email": "demo@example.com"})
        status, _, text = self.products()
        doc = json.loads(text)
        self.assertTrue(doc["sessionOK"])
        self.assertEqual([p["Id"] for p in doc["Products"]], [101, 102, 103])
        # Every link names a served file whose size and MD5 match the answer.
        for p in doc["Products"]:
            for link in p["Links"]:
                st, body = clients.fetch(link["Url"], self.ca)
                self.assertEqual(st, 200)
                self.assertEqual(len(body), link["Size"])
                self.assertEqual(crypto.md5_hex(body), link["Md5"].upper())
                self.assertTrue(link["Path"].startswith("/documents/"))
        recs = self.wait_records(since, "web", 2)
        login, prods = recs[0], recs[1]
        self.assertEqual(login["func"], "LOGINCHECK")
        self.assertEqual([k for k, _ in login["pairs"]][:5], ["func", "Token", "sessionId", "usr", "pwd"])
        self.assertEqual((login["fields"]["usr"], login["fields"]["pwd"], login["fields"]["version"],
                          login["fields"]["Device_product"], login["fields"]["ptf"], login["fields"]["lang"]),
                         (DEMO["user"], DEMO["password"], "149", "DownloaderOS", "mac", "en"))
        self.assertRegex(login["nonce"], r"^[0-9A-V]{6}$")
        self.assertEqual(prods["func"], "PRODUCTSTOINSTALL")
        self.assertEqual(prods["fields"]["sessionId"], DEMO["session"])

    def test_normal_refusals(self):
        cases = [({"password": "wrong"}, {"loginOK": False}),
                 ({"token": "other"}, {"loginOK": False}),
                 ({"user": "nobody@example.com"}, {"loginOK": False})]
        for over, expect in cases:
            with self.subTest(over=over):
                self.assertEqual(json.loads(self.login(**over)[2]), expect)
        self.assertEqual(json.loads(self.products(token="bad")[2]), {"sessionOK": False})

    def test_scripted_login_answers(self):
        cases = [
            ({"kind": "refused"}, 200, {"loginOK": False}),
            ({"kind": "expired"}, 200, {"errorMsg": "ERROR 2526 Session expired"}),
            ({"kind": "error", "text": "ERROR 10 Database down"}, 200, {"errorMsg": "ERROR 10 Database down"}),
            ({"kind": "errorMsg", "text": "Unknown user"}, 200, {"errorMsg": "Unknown user"}),
            ({"kind": "no_session"}, 200, {"loginOK": True, "Token": DEMO["token"]}),
            ({"kind": "json", "body": {"loginOK": "yes"}}, 200, {"loginOK": "yes"}),
        ]
        for step, status, expect in cases:
            with self.subTest(step=step):
                self.control("/web", {"login": [step]})
                st, _, text = self.login()
                self.assertEqual(st, status)
                self.assertEqual(json.loads(text), expect)

    def test_unreadable_answers(self):
        cases = [
            ({"kind": "text", "body": 'xx ERROR 7 "a" }'}, 200, b"", 'xx ERROR 7 "a" }'),
            ({"kind": "enciphered_empty"}, 200, b"", ""),
            ({"kind": "empty"}, 200, b"", None),
            ({"kind": "html"}, 200, b"<!DOCTYPE html>", None),
            ({"kind": "status", "status": 500}, 500, b"<!DOCTYPE html>", None),
        ]
        for step, status, raw_prefix, text in cases:
            with self.subTest(step=step):
                self.control("/web", {"login": [step]})
                st, raw, got = self.login()
                self.assertEqual(st, status)
                self.assertTrue(raw.startswith(raw_prefix))
                if text is None:
                    # an empty body "deciphers" to nothing; an HTML page does not decode
                    self.assertIn(got, (None, "") if not raw else (None,))
                else:
                    self.assertEqual(got, text)

    def test_scripted_product_answers(self):
        self.control("/web", {"products": [{"kind": "no_products"}, {"kind": "no_products_member"},
                                           {"kind": "filtered"}, {"kind": "expired", "count": 2}]})
        self.assertEqual(json.loads(self.products()[2])["Products"], [])
        self.assertNotIn("Products", json.loads(self.products()[2]))
        filtered = json.loads(self.products()[2])["Products"]
        self.assertEqual([p["Id"] for p in filtered], [0, 901, 902, 903])
        for _ in range(2):
            self.assertTrue(json.loads(self.products()[2])["errorMsg"].startswith("ERROR 2526"))
        self.assertTrue(json.loads(self.products()[2])["sessionOK"])  # sequence used up

    def test_undecipherable_request_is_recorded(self):
        since = self.last_seq()
        st, raw = clients.fetch(self.info["web"]["index_url"] + "par=NOTHEX", self.ca)
        self.assertEqual(st, 200)
        rec = self.wait_records(since, "web")[0]
        self.assertIn("undecipherable", rec["error"])
        self.assertIn("ERROR", crypto.decipher(raw.decode()).decode())

    def test_wrong_host_certificate_is_refused(self):
        url = "https://127.0.0.1:%d/gen/1/10/x.bin" % self.info["badcert"]["port"]
        rc, _, _, _ = self.curl("-o", os.devnull, url)
        self.assertEqual(rc, 60)
        rc, code, _, _ = self.curl("-o", os.devnull, "--resolve",
                                   "wrong.invalid:%d:127.0.0.1" % self.info["badcert"]["port"],
                                   "https://wrong.invalid:%d/gen/1/10/x.bin" % self.info["badcert"]["port"])
        self.assertEqual((rc, code), (0, 200))
        # without the world's authority even the right host is refused
        p = subprocess.run(["curl", "-s", "-o", os.devnull, "--capath", "/nonexistent", "--cacert",
                            "/dev/null", self.info["files_https"]["url"] + "/gen/1/10/x.bin"],
                           capture_output=True, timeout=30)
        self.assertNotEqual(p.returncode, 0)


class Sinks(worldtest.WorldCase):
    def test_statistics_request_is_decoded(self):
        doc = {"quill_StatusInformation": {
            "provider_data": {"device_id": "abc", "timestamp": 1700000000,
                              "events": [{"key": "InfoUser", "count": 1, "segmentation": {"OS": "Linux"}}]},
            "quill_data": {"product": "Downloader", "environment": "Release", "platform": "Linux",
                           "version": 149}}}
        since = self.last_seq()
        par = clients.stats_par(doc)
        self.assertNotIn("=", par)
        rc, code, _, _ = self.curl("-o", os.devnull, self.info["stats"]["url"] + par)
        self.assertEqual((rc, code), (0, 200))
        rec = self.wait_records(since, "stats")[0]
        self.assertEqual(rec["json"], doc)
        self.assertFalse(rec["par_has_raw_eq_or_slash"])

    def test_support_package_is_unpacked(self):
        zbytes = clients.make_zip({"quillmap.log": b"log line\n" * 10, "Devices_Reports/Unit A_report.log": b"x" * 50,
                                   "../escape.txt": b"never outside"})
        report = clients.support_report(zbytes, body="Error: something\n")
        headers, body = clients.support_body(report)
        with tempfile.NamedTemporaryFile(suffix=".bin", delete=False) as f:
            f.write(body)
        try:
            since = self.last_seq()
            args = ["-o", os.devnull, "--data-binary", "@" + f.name]
            for k, v in headers.items():
                if k != "Content-Length":
                    args += ["-H", "%s: %s" % (k, v)]
            rc, code, _, _ = self.curl(*args, self.info["support"]["url"])
        finally:
            os.remove(f.name)
        self.assertEqual((rc, code), (0, 200))
        rec = self.wait_records(since, "support")[0]
        self.assertEqual(rec["format_errors"], [])
        self.assertTrue(rec["byte_exact"] and rec["bom"] and rec["compact"])
        self.assertEqual((rec["file_field"], rec["filename"]), ("file", "quillmaplogs.json"))
        email = rec["json"]["EMail"]
        self.assertEqual(list(email), ["To", "subject", "body", "provider", "attachments"])
        z = rec["zips"][0]
        self.assertTrue(z["hex_upper"])
        self.assertEqual(z["rejected"], ["../escape.txt"])
        self.assertEqual(sorted(m["name"] for m in z["members"]),
                         ["Devices_Reports/Unit A_report.log", "quillmap.log"])
        with open(os.path.join(z["unpacked"], "quillmap.log"), "rb") as f:
            self.assertEqual(f.read(), b"log line\n" * 10)
        self.assertFalse(os.path.exists(os.path.join(os.path.dirname(z["unpacked"]), "escape.txt")))

    def test_support_body_deviations_are_listed(self):
        report = clients.support_report(clients.make_zip({"a.txt": b"hello"}))
        headers, body = clients.support_body(report, fields=[("a", "1")])
        headers.pop("Content-Length")
        since = self.last_seq()
        st, _ = clients.post(self.info["support"]["url"], headers, body[2:], self.ca)  # no leading CRLF
        self.assertEqual(st, 200)
        rec = self.wait_records(since, "support")[0]
        self.assertFalse(rec["byte_exact"])
        self.assertEqual(rec["fields"], [["a", "1"]])
        self.assertIn("body does not start with CRLF and the boundary", rec["format_errors"])

    def test_support_failure_is_scriptable(self):
        self.control("/web", {"support": [{"kind": "status", "status": 503}]})
        headers, body = clients.support_body(clients.support_report(clients.make_zip({"a": b"hello"})))
        self.assertEqual(clients.post(self.info["support"]["url"], headers, body, self.ca)[0], 503)
        self.assertEqual(clients.post(self.info["support"]["url"], headers, body, self.ca)[0], 200)

    def test_scenario_reload_and_validation(self):
        scen = {"users": [{"user": "x@example.com", "password": "p", "token": "t", "sessionId": "s"}],
                "files": {"/a.txt": {"text": "abc"}},
                "products": [{"Id": 5, "Name": "A", "Links": [{"file": "/a.txt", "Path": "/documents/Data/"}]}]}
        self.control("/scenario", scen)
        _, _, text = clients.products(self.info["web"]["index_url"], self.ca, "s", "t")
        link = json.loads(text)["Products"][0]["Links"][0]
        self.assertEqual((link["Size"], link["File"], link["Name"]), (3, "a.txt", "a"))
        self.assertEqual(link["Md5"].upper(), crypto.md5_hex(b"abc"))
        with self.assertRaises(Exception):
            self.control("/faults", {"path": "/a.txt", "steps": [{"kind": "dorp"}]})


if __name__ == "__main__":
    unittest.main()
