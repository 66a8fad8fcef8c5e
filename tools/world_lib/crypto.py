"""Twofish-CBC framing of the maker's services, independent of the C++ program.

Twofish and CBC come from libnettle through ctypes; zlib, Base64 and hex from
Python's standard library.  The framing:

  plain bytes -> (zlib + 1..16 zero bytes | text + terminating zero + zeros to 16)
              -> Twofish-CBC with a random 16-byte IV, key zero-filled to 32 bytes
              -> IV + ciphertext -> upper-case hex ("TwoFish") or Base64.
"""

import base64
import binascii
import ctypes
import ctypes.util
import os
import re
import zlib

# The key shared by the web service, the install links and the statistics
# service: 31 printable ASCII characters.  The C++ program carries the same text.
DEFAULT_APPKEY = "Qm7-Vx2.Lp9_Rt4+Wz6=Hs1:Jd8,Nc3"

BLOCK = 16
_CTX_SIZE = 40 * 4 + 4 * 256 * 4  # struct twofish_ctx: keys[40], s_box[4][256]


class CryptoError(ValueError):
    """A text that cannot be decoded or deciphered."""


def _load_nettle():
    for name in ("libnettle.so.8", ctypes.util.find_library("nettle")):
        if not name:
            continue
        try:
            return ctypes.CDLL(name)
        except OSError:
            continue
    raise OSError("libnettle (libnettle.so.8) not found")


_nettle = _load_nettle()
_u8p = ctypes.POINTER(ctypes.c_uint8)
_nettle.nettle_twofish_set_key.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_char_p]
_nettle.nettle_twofish_set_key.restype = None
for _f in (_nettle.nettle_twofish_encrypt, _nettle.nettle_twofish_decrypt):
    _f.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_void_p, ctypes.c_void_p]
    _f.restype = None
for _f in (_nettle.nettle_cbc_encrypt, _nettle.nettle_cbc_decrypt):
    _f.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_void_p,
                   ctypes.c_size_t, ctypes.c_void_p, ctypes.c_void_p]
    _f.restype = None
_ENC_FN = ctypes.cast(_nettle.nettle_twofish_encrypt, ctypes.c_void_p)
_DEC_FN = ctypes.cast(_nettle.nettle_twofish_decrypt, ctypes.c_void_p)
_nettle.nettle_md5_init.argtypes = [ctypes.c_void_p]
_nettle.nettle_md5_update.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_char_p]
_nettle.nettle_md5_digest.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_void_p]


class Twofish:
    """One expanded Twofish key (any nettle key length: 16, 24 or 32 bytes...)."""

    def __init__(self, key: bytes):
        if not 1 <= len(key) <= 32:
            raise CryptoError("Twofish key must have 1 to 32 bytes")
        self._ctx = ctypes.create_string_buffer(_CTX_SIZE)
        _nettle.nettle_twofish_set_key(self._ctx, len(key), key)

    def _ecb(self, fn, data: bytes) -> bytes:
        if len(data) % BLOCK:
            raise CryptoError("data is not a whole number of blocks")
        out = ctypes.create_string_buffer(len(data))
        fn(self._ctx, len(data), out, data)
        return out.raw

    def encrypt_ecb(self, data: bytes) -> bytes:
        return self._ecb(_nettle.nettle_twofish_encrypt, data)

    def decrypt_ecb(self, data: bytes) -> bytes:
        return self._ecb(_nettle.nettle_twofish_decrypt, data)

    def _cbc(self, fn, cipher_fn, iv: bytes, data: bytes) -> bytes:
        if len(iv) != BLOCK:
            raise CryptoError("IV must have 16 bytes")
        if len(data) % BLOCK:
            raise CryptoError("data is not a whole number of blocks")
        ivbuf = ctypes.create_string_buffer(iv, BLOCK)
        out = ctypes.create_string_buffer(len(data))
        fn(self._ctx, cipher_fn, BLOCK, ivbuf, len(data), out, data)
        return out.raw

    def encrypt_cbc(self, iv: bytes, data: bytes) -> bytes:
        return self._cbc(_nettle.nettle_cbc_encrypt, _ENC_FN, iv, data)

    def decrypt_cbc(self, iv: bytes, data: bytes) -> bytes:
        return self._cbc(_nettle.nettle_cbc_decrypt, _DEC_FN, iv, data)


def md5_hex(data: bytes) -> str:
    """MD5 through nettle, as 32 upper-case hex digits."""
    ctx = ctypes.create_string_buffer(256)
    _nettle.nettle_md5_init(ctx)
    _nettle.nettle_md5_update(ctx, len(data), data)
    out = ctypes.create_string_buffer(16)
    _nettle.nettle_md5_digest(ctx, 16, out)
    return out.raw.hex().upper()


def _app_cipher(key) -> Twofish:
    kb = key.encode("latin-1") if isinstance(key, str) else bytes(key)
    if not kb:
        raise CryptoError("empty key")
    if len(kb) > 32:
        raise CryptoError("key longer than 32 bytes")
    return Twofish(kb.ljust(32, b"\0"))


# --- text codecs ----------------------------------------------------------------

_B64_RE = re.compile(r"^[A-Za-z0-9+/=]*$")


def b64_encode(data: bytes) -> str:
    return base64.b64encode(data).decode("ascii")


def b64_decode(text: str) -> bytes:
    """Base64 with this protocol's own acceptance rules: length a multiple of four, only
    the alphabet and '='."""
    if len(text) % 4 or not _B64_RE.match(text):
        raise CryptoError("not Base64")
    try:
        return base64.b64decode(text, validate=False)
    except binascii.Error as e:
        raise CryptoError("not Base64: %s" % e)


def hex_encode(data: bytes) -> str:
    return data.hex().upper()


def hex_decode(text: str) -> bytes:
    if len(text) % 2 or not re.match(r"^[0-9A-Fa-f]*$", text):
        raise CryptoError("not hex")
    return bytes.fromhex(text)


# --- framing ----------------------------------------------------------------------

METHODS = ("TwoFish", "TwoFishHexa", "TwoFishBase64", "ZipTwoFishBase64", "ZipTwoFishHexa")


def _is_zip(method):
    return method.startswith("Zip")


def _is_b64(method):
    return method.endswith("Base64")


def pad_zero_terminated(data: bytes) -> bytes:
    """Terminating zero byte, then zero bytes up to a multiple of 16."""
    d = data + b"\0"
    return d + b"\0" * (-len(d) % BLOCK)


def zip_pad(data: bytes) -> bytes:
    """zlib stream followed by 1..16 zero bytes up to the next multiple of 16."""
    c = zlib.compress(data)
    return c + b"\0" * (BLOCK - len(c) % BLOCK)


def encipher(plain, method="TwoFish", key=DEFAULT_APPKEY, iv=None) -> str:
    if method not in METHODS:
        raise CryptoError("unknown method %r" % method)
    if isinstance(plain, str):
        plain = plain.encode("utf-8")
    data = zip_pad(plain) if _is_zip(method) else pad_zero_terminated(plain)
    iv = os.urandom(BLOCK) if iv is None else iv
    blob = iv + _app_cipher(key).encrypt_cbc(iv, data)
    return b64_encode(blob) if _is_b64(method) else hex_encode(blob)


def decipher_raw(text: str, method="TwoFish", key=DEFAULT_APPKEY) -> bytes:
    """All deciphered bytes (padding included); b'' when only an IV or less came."""
    if method not in METHODS:
        raise CryptoError("unknown method %r" % method)
    blob = b64_decode(text) if _is_b64(method) else hex_decode(text)
    if len(blob) <= BLOCK:
        return b""
    return _app_cipher(key).decrypt_cbc(blob[:BLOCK], blob[BLOCK:])


def inflate(data: bytes, limit=16 * 1024 * 1024) -> bytes:
    """Inflate one zlib stream, ignoring what follows its end."""
    d = zlib.decompressobj()
    try:
        out = d.decompress(data, limit + 1)
    except zlib.error as e:
        raise CryptoError("zlib: %s" % e)
    if len(out) > limit:
        raise CryptoError("inflated text larger than %d bytes" % limit)
    if not d.eof:
        raise CryptoError("zlib stream truncated")
    return out


def decipher(text: str, method="TwoFish", key=DEFAULT_APPKEY) -> bytes:
    """The plain bytes: inflated for the zip methods, cut at the first zero byte
    for the others."""
    raw = decipher_raw(text, method, key)
    if not raw:
        return b""
    if _is_zip(method):
        return inflate(raw)
    cut = raw.find(b"\0")
    return raw if cut < 0 else raw[:cut]
