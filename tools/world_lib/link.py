"""Install links: "quillinstallwizard:" + Base64(IV + Twofish-CBC(zlib(JSON) + zeros))."""

import json
import zlib

from . import crypto

SCHEME = "quillinstallwizard:"
SCHEME2 = "quillinstallwizard2:"


def link_json(user, password, token, session, login_ok=True, idioma="en", escaped=False):
    doc = {"loginOK": login_ok, "Email": user, "Pwd": password, "Token": token,
           "sessionId": session, "Idioma": idioma}
    text = json.dumps(doc, ensure_ascii=False, separators=(",", ":"))
    if escaped:
        # The web shop's own habit: quotes escaped with a backslash throughout.
        text = text.replace('"', '\\"')
    return text


def make_params(json_text, key=crypto.DEFAULT_APPKEY, iv=None):
    """The parameter text after the scheme."""
    packed = zlib.compress(json_text.encode("utf-8"))
    # "TwoFishBase64" pads the zlib stream with a terminating zero and zeros.
    return crypto.encipher(packed, "TwoFishBase64", key, iv=iv)


def make_link(user, password, token, session, key=crypto.DEFAULT_APPKEY, scheme=SCHEME, **kw):
    return scheme + make_params(link_json(user, password, token, session, **kw), key)


def params_of(link):
    text = link.strip()
    text = text.replace(SCHEME2, SCHEME)
    if text.startswith(SCHEME):
        text = text[len(SCHEME):]
    return text.split(" ", 1)[0]


def read_link_text(link, key=crypto.DEFAULT_APPKEY):
    """The inflated JSON text of a link (or of bare parameters)."""
    raw = crypto.decipher_raw(params_of(link), "TwoFishBase64", key)
    if not raw:
        raise crypto.CryptoError("no ciphertext in the link")
    return crypto.inflate(raw, 8192).decode("utf-8")


def read_link(link, key=crypto.DEFAULT_APPKEY):
    return json.loads(read_link_text(link, key).replace('\\"', '"'))
