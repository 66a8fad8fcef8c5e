"""The client side of the services, written from the request formats alone: used by
the world's own tests and handy for C++ test authors who want a reference."""

import io
import json
import random
import ssl
import string
import urllib.error
import urllib.parse
import urllib.request
import zipfile

from . import crypto
from .http_servers import SUPPORT_BOUNDARY, expected_multipart

NONCE_ALPHABET = string.digits + "ABCDEFGHIJKLMNOPQRSTUV"


def request_text(query, devid="world-test-device", version="149"):
    """The plain text of a web-service request: query, fixed fields, six-character nonce."""
    nonce = "".join(random.choice(NONCE_ALPHABET) for _ in range(6))
    return (query + "&version=" + version + "&Device_product=Downloader" + "OS" + "&ptf=" + "mac"
            + "&lang=" + "en" + "&devid=" + devid + "&" + nonce)


def _context(ca_file):
    return ssl.create_default_context(cafile=ca_file)


def fetch(url, ca_file=None, timeout=10):
    """(HTTP status, body bytes) of a GET; HTTP errors are returned, not raised."""
    ctx = _context(ca_file) if url.startswith("https:") else None
    try:
        with urllib.request.urlopen(url, context=ctx, timeout=timeout) as r:
            return r.status, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.read()


def service_request(index_url, query, ca_file, key=crypto.DEFAULT_APPKEY, devid="world-test-device"):
    """Send one enciphered request; returns (status, raw answer, deciphered text or None)."""
    par = crypto.encipher(request_text(query, devid), "TwoFish", key)
    status, raw = fetch(index_url + "par=" + par, ca_file)
    try:
        text = crypto.decipher(raw.decode("ascii"), "TwoFish", key).decode("utf-8")
    except (crypto.CryptoError, UnicodeDecodeError):
        text = None
    return status, raw, text


def login(index_url, ca_file, user, password, token, session, key=crypto.DEFAULT_APPKEY):
    q = "func=LOGINCHECK&Token=%s&sessionId=%s&usr=%s&pwd=%s" % (token, session, user, password)
    return service_request(index_url, q, ca_file, key)


def products(index_url, ca_file, session, token, key=crypto.DEFAULT_APPKEY):
    q = "func=PRODUCTSTOINSTALL&sessionId=%s&Token=%s" % (session, token)
    return service_request(index_url, q, ca_file, key)


def stats_par(doc, key=crypto.DEFAULT_APPKEY):
    """The statistics parameter: ZipTwoFishBase64, '=' -> '@', '/' -> '\\', URL-encoded."""
    text = json.dumps(doc, separators=(",", ":"))
    b64 = crypto.encipher(text, "ZipTwoFishBase64", key).replace("=", "@").replace("/", "\\")
    return urllib.parse.quote(b64, safe="")


def support_report(zip_bytes, zip_name="quillmaplogs.zip", app="Downloader", ver="_149",
                   err="_0_73001", subject="OS Downloader Support: demo@example.com",
                   body="Error:", provider="Quillmap"):
    """The JSON report file: byte-order mark, then compact JSON with the hex zip."""
    doc = {"EMail": {"To": {"app": app, "ver": ver, "err": err}, "subject": subject, "body": body,
                     "provider": provider,
                     "attachments": [{"zip_namefile": zip_name, "zip_file": zip_bytes.hex().upper()}]}}
    return b"\xef\xbb\xbf" + json.dumps(doc, ensure_ascii=False, separators=(",", ":")).encode()


def make_zip(members):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        for name, data in members.items():
            z.writestr(name, data)
    return buf.getvalue()


def support_body(report, filename="quillmaplogs.json", fields=()):
    """(headers, body) of the multipart upload, laid out byte for byte."""
    body = expected_multipart([(k, v.encode()) for k, v in fields], "file", filename, report)
    headers = {"Content-Type": "multipart/form-data; boundary=" + SUPPORT_BOUNDARY,
               "Accept": "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8",
               "Accept-Encoding": "gzip,deflater",
               "Accept-Charset": "ISO-8859-1,utf-8;q=0.7,*;q=0.7",
               "Content-Length": str(len(body))}
    return headers, body


def post(url, headers, body, ca_file=None, timeout=10):
    ctx = _context(ca_file) if url.startswith("https:") else None
    req = urllib.request.Request(url, data=body, headers=headers, method="POST")
    try:
        with urllib.request.urlopen(req, context=ctx, timeout=timeout) as r:
            return r.status, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.read()


__all__ = ["request_text", "fetch", "service_request", "login", "products", "stats_par",
           "support_report", "support_body", "make_zip", "post"]
