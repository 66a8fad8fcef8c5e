"""The world's Twofish binding and framing, checked against published vectors."""

import unittest
import zlib

import worldtest  # noqa: F401  (puts tools/ on the path)
from world_lib import crypto


class TwofishPaperVectors(unittest.TestCase):
    # Known answers from the Twofish paper (zero plaintext; and the first
    # iterations of the 128-bit table, each key and plaintext the earlier outputs).
    VECTORS = [
        ("00000000000000000000000000000000", "00000000000000000000000000000000",
         "9F589F5CF6122C32B6BFEC2F2AE8C35A"),
        ("00000000000000000000000000000000", "9F589F5CF6122C32B6BFEC2F2AE8C35A",
         "D491DB16E7B1C39E86CB086B789F5419"),
        ("9F589F5CF6122C32B6BFEC2F2AE8C35A", "D491DB16E7B1C39E86CB086B789F5419",
         "019F9809DE1711858FAAC3A3BA20FBC3"),
        ("0123456789ABCDEFFEDCBA98765432100011223344556677", "00000000000000000000000000000000",
         "CFD1D2E5A9BE9CDF501F13B892BD2248"),
        ("0123456789ABCDEFFEDCBA987654321000112233445566778899AABBCCDDEEFF",
         "00000000000000000000000000000000", "37527BE0052334B89F0CFCCAE87CFA20"),
    ]

    def test_known_answers_encrypt_and_decrypt(self):
        for key, pt, ct in self.VECTORS:
            with self.subTest(bits=len(key) * 4, key=key[:8]):
                tf = crypto.Twofish(bytes.fromhex(key))
                self.assertEqual(tf.encrypt_ecb(bytes.fromhex(pt)).hex().upper(), ct)
                self.assertEqual(tf.decrypt_ecb(bytes.fromhex(ct)).hex().upper(), pt)

    def test_cbc_chains_blocks(self):
        tf = crypto.Twofish(bytes(32))
        iv = bytes(range(16))
        data = bytes(32)
        ct = tf.encrypt_cbc(iv, data)
        first = tf.encrypt_ecb(iv)  # zero block XOR iv
        second = tf.encrypt_ecb(first)  # zero block XOR first ciphertext
        self.assertEqual(ct, first + second)
        self.assertEqual(tf.decrypt_cbc(iv, ct), data)

    def test_md5_rfc1321(self):
        for text, digest in [(b"", "D41D8CD98F00B204E9800998ECF8427E"),
                             (b"abc", "900150983CD24FB0D6963F7D28E17F72"),
                             (b"message digest", "F96B697D7CB7938D525A2F31AAF161D0")]:
            self.assertEqual(crypto.md5_hex(text), digest)


class Framing(unittest.TestCase):
    def test_block_counts(self):
        # empty -> IV + one block; 15 bytes -> one block; 16 bytes -> two blocks
        for text, hex_digits in [("", 64), ("a" * 15, 64), ("a" * 16, 96)]:
            with self.subTest(n=len(text)):
                self.assertEqual(len(crypto.encipher(text, "TwoFish")), hex_digits)

    def test_round_trips_every_method(self):
        for method in crypto.METHODS:
            for text in ["", "x", "func=LOGINCHECK&usr=a@b.c", "ñ€" * 3000]:
                with self.subTest(method=method, n=len(text)):
                    enc = crypto.encipher(text, method)
                    self.assertEqual(crypto.decipher(enc, method).decode(), text)

    def test_hex_is_upper_case_and_iv_first(self):
        iv = bytes(range(16))
        enc = crypto.encipher("abc", "TwoFish", iv=iv)
        self.assertEqual(enc, enc.upper())
        self.assertTrue(enc.startswith(iv.hex().upper()))
        raw = crypto.decipher_raw(enc, "TwoFish")
        self.assertEqual(raw, b"abc" + bytes(13))

    def test_zip_padding_is_one_to_sixteen_zero_bytes(self):
        enc = crypto.encipher("hello hello hello", "ZipTwoFishBase64")
        raw = crypto.decipher_raw(enc, "ZipTwoFishBase64")
        stream = zlib.compress(b"hello hello hello")
        self.assertTrue(raw.startswith(stream))
        self.assertTrue(1 <= len(raw) - len(stream) <= 16)
        self.assertEqual(raw[len(stream):], bytes(len(raw) - len(stream)))

    def test_only_an_iv_deciphers_to_nothing(self):
        self.assertEqual(crypto.decipher("00" * 16, "TwoFish"), b"")

    def test_base64_acceptance(self):
        self.assertEqual(crypto.b64_encode(b"abc"), "YWJj")
        for bad in ["YWJj=", "YW-j", "YWJ"]:
            with self.subTest(text=bad):
                with self.assertRaises(crypto.CryptoError):
                    crypto.b64_decode(bad)

    def test_undecodable_texts_fail(self):
        for text, method in [("ABC", "TwoFish"), ("ZZ", "TwoFish"),
                             ("00" * 16 + "AB", "TwoFish"), ("YWJj=", "TwoFishBase64")]:
            with self.subTest(text=text):
                with self.assertRaises(crypto.CryptoError):
                    crypto.decipher(text, method)

    def test_key_is_zero_filled_to_256_bits(self):
        iv = bytes(16)
        enc = crypto.encipher("k", "TwoFish", key="short", iv=iv)
        expect = crypto.Twofish(b"short".ljust(32, b"\0")).encrypt_cbc(iv, b"k" + bytes(15))
        self.assertEqual(enc, (iv + expect).hex().upper())
        self.assertEqual(len(crypto.DEFAULT_APPKEY), 31)
        with self.assertRaises(crypto.CryptoError):
            crypto.encipher("x", "TwoFish", key="k" * 33)


if __name__ == "__main__":
    unittest.main()
