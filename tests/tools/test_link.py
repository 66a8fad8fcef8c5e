"""Install links built and read back, through the module and the command line."""

import base64
import json
import subprocess
import unittest
import zlib

import worldtest
from world_lib import crypto, link


def run_world(*args):
    return subprocess.run([worldtest.PYTHON, worldtest.WORLD] + list(args),
                          capture_output=True, text=True, timeout=30)


class Links(unittest.TestCase):
    def test_layout_base64_iv_cbc_zlib_json(self):
        text = link.make_link("u@example.com", "p&w", "tok", "sess")
        self.assertTrue(text.startswith("quillinstallwizard:"))
        blob = base64.b64decode(text[len("quillinstallwizard:"):], validate=True)
        self.assertEqual((len(blob) - 16) % 16, 0)
        key = crypto.DEFAULT_APPKEY.encode().ljust(32, b"\0")
        plain = crypto.Twofish(key).decrypt_cbc(blob[:16], blob[16:])
        stream = zlib.decompressobj()
        doc = json.loads(stream.decompress(plain))
        self.assertEqual(stream.unused_data, bytes(len(stream.unused_data)))  # zero padding
        self.assertEqual(doc, {"loginOK": True, "Email": "u@example.com", "Pwd": "p&w",
                               "Token": "tok", "sessionId": "sess", "Idioma": "en"})

    def test_cli_round_trip_and_variants(self):
        cases = [([], True, "quillinstallwizard:"),
                 (["--login-ko", "--escaped"], False, "quillinstallwizard:"),
                 (["--scheme2", "--idioma", "es"], True, "quillinstallwizard2:")]
        for extra, ok, scheme in cases:
            with self.subTest(extra=extra):
                made = run_world("link", "--user", "demo@example.com", "--password", "pw",
                                 "--token", "T1", "--session", "S1", *extra)
                self.assertEqual(made.returncode, 0, made.stderr)
                self.assertTrue(made.stdout.startswith(scheme))
                back = run_world("readlink", made.stdout.strip() + " trailing words")
                self.assertEqual(back.returncode, 0, back.stderr)
                doc = json.loads(back.stdout)
                self.assertEqual((doc["loginOK"], doc["Email"], doc["Token"], doc["sessionId"]),
                                 (ok, "demo@example.com", "T1", "S1"))

    def test_escaped_quotes_as_the_shop_writes_them(self):
        text = link.make_link("a", "b", "c", "d", escaped=True)
        self.assertTrue(link.read_link_text(text).startswith('{\\"loginOK\\":true'))
        self.assertEqual(link.read_link(text)["Pwd"], "b")

    def test_garbage_is_refused(self):
        for bad in ["quillinstallwizard:", "quillinstallwizard:abc", "quillinstallwizard:" + "A" * 64]:
            with self.subTest(link=bad):
                res = run_world("readlink", bad)
                self.assertNotEqual(res.returncode, 0)
                self.assertIn("cannot read link", res.stderr)


if __name__ == "__main__":
    unittest.main()
