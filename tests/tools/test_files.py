"""The file server's ranges and fault switches, each seen by curl."""

import hashlib
import os
import tempfile
import unittest

import worldtest
from world_lib import content

SIZE = 20000
SCENARIO = {
    "users": [],
    "files": {"/f/data.bin": {"gen": {"size": SIZE, "seed": 42}},
              "/f/note.txt": {"text": "hello world\n"}},
    "faults": {"/f/note.txt": [{"kind": "status", "status": 503, "count": 1}]},
}
BODY = content.generated_bytes(42, 0, SIZE)


class FileServer(worldtest.WorldCase):
    scenario = SCENARIO

    def setUp(self):
        self.fault()  # the scenario's faults of other paths stay
        self.http = self.info["files_http"]["url"]
        self.https = self.info["files_https"]["url"]
        fd, self.out = tempfile.mkstemp(dir=self.tmp)
        os.close(fd)

    def tearDown(self):
        os.remove(self.out)

    def fault(self, *steps, path="/f/data.bin"):
        self.control("/faults", {"path": path, "steps": list(steps)})

    def get(self, *args, url=None):
        rc, code, size, out = self.curl("-o", self.out, *args, url or self.https + "/f/data.bin")
        with open(self.out, "rb") as f:
            return rc, code, size, f.read()

    def test_whole_file_and_ranges(self):
        cases = [([], 200, BODY),
                 (["-r", "1000-"], 206, BODY[1000:]),
                 (["-r", "10-19"], 206, BODY[10:20]),
                 (["-r", "-5"], 206, BODY[-5:])]
        for args, code, body in cases:
            with self.subTest(args=args):
                for base in (self.http, self.https):
                    rc, got_code, _, got = self.get(*args, url=base + "/f/data.bin")
                    self.assertEqual((rc, got_code), (0, code))
                    self.assertEqual(got, body)

    def test_content_range_header(self):
        _, _, _, head = self.curl("-D", "-", "-o", os.devnull, "-r", "1000-", self.http + "/f/data.bin")
        self.assertIn(b"Content-Range: bytes 1000-%d/%d" % (SIZE - 1, SIZE), head)
        self.assertIn(b"Content-Length: %d" % (SIZE - 1000), head)

    def test_fault_switches(self):
        # (steps, extra curl args, curl exit code, http code, expected body or None)
        cases = [
            ([{"kind": "drop", "after": 1000}], [], 18, 200, BODY[:1000]),
            ([{"kind": "ignore_range"}], ["-r", "100-"], 0, 200, BODY),
            ([{"kind": "wrong_range_start", "start": 0}], ["-r", "100-"], 0, 206, BODY[:SIZE - 100]),
            ([{"kind": "416"}], ["-r", "100-"], 0, 416, None),
            ([{"kind": "status", "status": 404}], [], 0, 404, None),
            ([{"kind": "status", "status": 500}], [], 0, 500, None),
            ([{"kind": "status", "status": 503, "retry_after": 2}], [], 0, 503, None),
            ([{"kind": "stall", "seconds": 0.2, "after": 300}], [], 18, 200, BODY[:300]),
            ([{"kind": "stall", "seconds": 0.2, "then": "continue"}], [], 0, 200, BODY),
            ([{"kind": "trickle", "rate": 200000, "chunk": 4000}], [], 0, 200, BODY),
            ([{"kind": "content_length", "delta": 100}], [], 18, 200, BODY),
            ([{"kind": "content_length", "declared": 10}], [], 0, 200, BODY[:10]),
            ([{"kind": "corrupt", "offset": 5}], [], 0, 200, BODY[:5] + bytes([BODY[5] ^ 255]) + BODY[6:]),
            ([{"kind": "body", "body": "<html>maintenance</html>"}], [], 0, 200, b"<html>maintenance</html>"),
            ([{"kind": "redirect", "location": "{self}/gen/42/%d/x.bin" % SIZE}], ["-L"], 0, 200, BODY),
        ]
        for steps, args, rc, code, body in cases:
            with self.subTest(steps=steps):
                self.fault(*steps)
                got_rc, got_code, _, got = self.get(*args)
                self.assertEqual((got_rc, got_code), (rc, code))
                if body is not None:
                    self.assertEqual(got, body)
                if code >= 400:
                    self.assertIn(b"<html>", got.lower())

    def test_drop_with_reset(self):
        self.fault({"kind": "drop", "after": 500, "reset": True})
        rc, _, _, _ = self.get(url=self.http + "/f/data.bin")
        self.assertEqual(rc, 56)

    def test_redirect_to_file_scheme_is_refused_by_curl(self):
        self.fault({"kind": "redirect", "location": "file:///etc/passwd"})
        rc, _, _, out = self.curl("-L", "-o", self.out, self.http + "/f/data.bin")
        self.assertNotEqual(rc, 0)
        self.fault({"kind": "redirect", "location": "file:///etc/passwd"})
        rc, code, _, _ = self.curl("-D", self.out, "-o", os.devnull, self.http + "/f/data.bin")
        self.assertEqual((rc, code), (0, 302))
        with open(self.out, "rb") as f:
            self.assertIn(b"Location: file:///etc/passwd", f.read())

    def test_sequence_then_resume(self):
        self.fault({"kind": "drop", "after": 7000}, {"kind": "status", "status": 500, "count": 1})
        rc, _, _, got = self.get()
        self.assertEqual((rc, got), (18, BODY[:7000]))
        rc, code, _, _ = self.curl("-o", os.devnull, self.https + "/f/data.bin")
        self.assertEqual(code, 500)
        rc, code, _, _ = self.curl("-C", "-", "-o", self.out, self.https + "/f/data.bin")  # resumes at 7000
        self.assertEqual((rc, code), (0, 206))
        with open(self.out, "rb") as f:
            self.assertEqual(f.read(), BODY)
        state = self.control("/state")
        self.assertEqual(state["file_requests"]["/f/data.bin"], 3)

    def test_scenario_faults_and_records(self):
        since = self.last_seq()
        rc, code, _, _ = self.get(url=self.http + "/f/note.txt")
        self.assertEqual(code, 503)  # the scenario's first step
        rc, code, _, got = self.get(url=self.http + "/f/note.txt")
        self.assertEqual((code, got), (200, b"hello world\n"))
        recs = self.wait_records(since, "files_http", 2)
        self.assertEqual([(r["fault"], r["status"]) for r in recs], [("status", 503), ("ok", 200)])
        self.assertEqual(recs[1]["outcome"], "complete")

    def test_stall_ends_when_the_client_leaves(self):
        self.fault({"kind": "stall", "seconds": 60})
        since = self.last_seq()
        rc, _, _, _ = self.get("--max-time", "1", url=self.http + "/f/data.bin")
        self.assertEqual(rc, 28)
        rec = self.wait_records(since, "files_http")[0]
        self.assertEqual(rec["outcome"], "client_left_during_stall")

    def test_huge_generated_bodies(self):
        big = 5 * 1024 ** 3
        url = self.http + "/gen/9/%d/huge.bin" % big
        _, code, _, head = self.curl("-I", url)
        self.assertIn(b"Content-Length: %d" % big, head)
        rc, code, _, got = self.get("-r", "%d-" % (big - 100), url=url)
        self.assertEqual((rc, code), (0, 206))
        self.assertEqual(got, content.generated_bytes(9, big - 100, 100))
        # a window across the pattern's period is continuous
        start = content.PERIOD * 3 - 7
        rc, code, _, got = self.get("-r", "%d-%d" % (start, start + 20), url=url)
        self.assertEqual(got, content.generated_bytes(9, start, 21))
        rc, code, _, got = self.get(url=self.http + "/gen/9/300000/small.bin")
        self.assertEqual(hashlib.md5(got).hexdigest(), content.md5_generated(9, 300000))

    def test_missing_file(self):
        rc, code, _, got = self.get(url=self.http + "/no/such/file")
        self.assertEqual((rc, code), (0, 404))
        self.assertIn(b"<html>", got.lower())


if __name__ == "__main__":
    unittest.main()
