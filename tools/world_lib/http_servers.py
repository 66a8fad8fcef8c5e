"""HTTP(S) servers of the world: web service, file server, statistics and support
sinks and the control endpoint.  One handler class; each server has roles."""

import html
import json
import os
import select
import socket
import socketserver
import ssl
import struct
import time
import urllib.parse
import zipfile
from http.server import BaseHTTPRequestHandler

from . import crypto

SUPPORT_BOUNDARY = "MULTI-PARTS-FORM-DATA-BOUNDARY"
MAX_POST = 512 * 1024 * 1024
SOCKET_TIMEOUT = 60


def html_page(status, reason):
    return ("<!DOCTYPE html>\n<html><head><title>%d %s</title></head>"
            "<body><h1>%s</h1><p>The server could not complete the request.</p>"
            "</body></html>\n" % (status, html.escape(reason), html.escape(reason))).encode()


class WorldHTTPServer(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, world, name, roles, ssl_context=None, port=0):
        self.world = world
        self.name = name
        self.roles = set(roles)
        self.ssl_context = ssl_context
        super().__init__(("127.0.0.1", port), Handler)

    @property
    def port(self):
        return self.server_address[1]

    @property
    def base_url(self):
        return "%s://127.0.0.1:%d" % ("https" if self.ssl_context else "http", self.port)

    def finish_request(self, request, client_address):
        request.settimeout(SOCKET_TIMEOUT)
        if self.ssl_context is not None:
            try:
                request = self.ssl_context.wrap_socket(request, server_side=True)
            except (ssl.SSLError, OSError) as e:
                # A client that refuses the certificate ends here.
                self.world.recorder.record(self.name, event="tls_failed", error=str(e))
                try:
                    request.close()
                except OSError:
                    pass
                return
        try:
            self.RequestHandlerClass(request, client_address, self)
        finally:
            try:
                request.close()
            except OSError:
                pass

    def handle_error(self, request, client_address):
        self.world.log("%s: error while serving %s" % (self.name, client_address), exc=True)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "WorldSim/1.0"

    def version_string(self):
        return self.server_version

    # --- plumbing -------------------------------------------------------------------

    def log_message(self, fmt, *args):
        self.server.world.log("%s %s - %s" % (self.server.name, self.client_address[0], fmt % args))

    @property
    def world(self):
        return self.server.world

    def do_GET(self):
        self._route("GET")

    def do_HEAD(self):
        self._route("HEAD")

    def do_POST(self):
        self._route("POST")

    def _route(self, method):
        self.world.touch()
        self._arrival = self.world.recorder.arrival()
        self.close_connection = True
        path, _, query = self.path.partition("?")
        roles = self.server.roles
        try:
            if path == "/installwizard/index.php" and "web" in roles:
                return self._web_service(method, query)
            if path == "/installwizard/enviaemail.php" and "support" in roles:
                return self._support(method)
            if path == "/middleware/StatusInformation/index.php" and "stats" in roles:
                return self._stats(method, query)
            if "control" in roles:
                return self._control(method, path, query)
            if "files" in roles:
                return self._file(method, path)
            self._simple(404, html_page(404, "Not Found"), "text/html")
            self._rec(path=path, status=404)
        except (BrokenPipeError, ConnectionResetError, socket.timeout, ssl.SSLError):
            pass

    def _rec(self, **fields):
        base = {"method": self.command, "path": self.path.partition("?")[0],
                "port": self.server.port, "arrival": getattr(self, "_arrival", 0)}
        base.update(fields)
        return self.world.recorder.record(self.server.name, **base)

    def _headers_dict(self):
        return {k: v for k, v in self.headers.items()}

    def _send_head(self, status, headers):
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Connection", "close")
        self.end_headers()

    def _simple(self, status, body, ctype="text/html; charset=UTF-8", extra=()):
        self._send_head(status, [("Content-Type", ctype), ("Content-Length", str(len(body)))]
                        + list(extra))
        if self.command != "HEAD":
            self.wfile.write(body)

    def _read_body(self):
        te = self.headers.get("Transfer-Encoding", "")
        if "chunked" in te.lower():
            out = bytearray()
            while True:
                line = self.rfile.readline(1024)
                n = int(line.split(b";")[0].strip() or b"0", 16)
                if n == 0:
                    while self.rfile.readline(1024) not in (b"\r\n", b"\n", b""):
                        pass
                    return bytes(out), "chunked"
                if len(out) + n > MAX_POST:
                    raise ValueError("body too large")
                out += self.rfile.read(n)
                self.rfile.readline(16)
        length = int(self.headers.get("Content-Length", "0") or 0)
        if length > MAX_POST:
            raise ValueError("body too large")
        return self.rfile.read(length), "length"

    def _client_gone(self):
        """True when the client closed its side (or the world is stopping)."""
        if self.world.stopping.is_set():
            return True
        try:
            r, _, _ = select.select([self.connection], [], [], 0)
            if r:
                return self.connection.recv(1, socket.MSG_PEEK) == b""
        except (OSError, ValueError, ssl.SSLError):
            return True
        return False

    def _wait(self, seconds):
        """Wait up to seconds, ending early when the client leaves; bounded."""
        end = time.monotonic() + max(0.0, float(seconds))
        while time.monotonic() < end:
            if self._client_gone():
                return False
            time.sleep(min(0.05, max(0.0, end - time.monotonic())))
        return True

    def _abort(self, reset):
        """Drop the connection: RST when reset, else FIN after the data sent, then
        wait (bounded) for the client to close so that no unread byte turns the
        close into a reset."""
        try:
            self.wfile.flush()
        except OSError:
            pass
        try:
            sock = self.connection
            if reset:
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            else:
                raw = socket.socket(fileno=sock.fileno())  # plain TCP below any TLS layer
                try:
                    raw.shutdown(socket.SHUT_WR)
                    end = time.monotonic() + 2
                    while time.monotonic() < end:
                        r, _, _ = select.select([raw], [], [], 0.05)
                        if r and not raw.recv(65536):
                            break
                finally:
                    raw.detach()
            sock.close()
        except OSError:
            pass

    # --- web service ---------------------------------------------------------------------

    def _web_service(self, method, query):
        w = self.world
        par = _query_param(query, "par")
        rec = {"query": query}
        fields, func = {}, None
        if par is None:
            rec["error"] = "no par= parameter"
        else:
            try:
                plain = crypto.decipher(par, "TwoFish", w.appkey).decode("utf-8", "replace")
                rec["plain"] = plain
                fields, pairs, nonce = parse_request_text(plain)
                rec.update(fields=fields, pairs=pairs, nonce=nonce)
                func = fields.get("func")
            except crypto.CryptoError as e:
                rec["error"] = "undecipherable par: %s" % e
        rec["func"] = func
        step = w.web_step(func)
        rec["answer_kind"] = (step or {}).get("kind", "normal")
        if step and step.get("kind") == "stall":
            self._wait(step.get("seconds", 30))
            step = None
        status, raw, answer = w.web_answer(func, fields, step)
        rec.update(status=status, answer=answer)
        self._rec(**rec)
        self._simple(status, raw, "text/html; charset=UTF-8")

    # --- statistics sink -------------------------------------------------------------------

    def _stats(self, method, query):
        rec = {"query": query}
        raw = query[4:] if query.startswith("par=") else None
        if raw is None:
            rec["error"] = "no par= parameter"
        else:
            text = urllib.parse.unquote(raw)
            rec["par"] = text
            rec["par_has_raw_eq_or_slash"] = ("=" in text) or ("/" in text)
            b64 = text.replace("@", "=").replace("\\", "/")
            try:
                plain = crypto.decipher(b64, "ZipTwoFishBase64", self.world.appkey).decode("utf-8")
                rec["plain"] = plain
                rec["json"] = json.loads(plain)
            except (crypto.CryptoError, UnicodeDecodeError, ValueError) as e:
                rec["error"] = "cannot decode: %s" % e
        self._rec(**rec)
        self._simple(200, b"", "text/html; charset=UTF-8")

    # --- support sink ----------------------------------------------------------------------------

    def _support(self, method):
        if method != "POST":
            self._simple(405, html_page(405, "Method Not Allowed"))
            self._rec(status=405)
            return
        rec = {"headers": self._headers_dict()}
        try:
            body, framing = self._read_body()
        except ValueError as e:
            rec["error"] = str(e)
            self._rec(**rec)
            self._simple(413, html_page(413, "Payload Too Large"))
            return
        rec["body_framing"] = framing
        rec["body_size"] = len(body)
        n = self.world.next_support_number()
        folder = os.path.join(self.world.dir, "support", "%03d" % n)
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "body.bin"), "wb") as f:
            f.write(body)
        rec["folder"] = folder
        try:
            rec.update(decode_support(self.headers, body, folder))
        except Exception as e:  # untrusted input: record, never crash
            rec["error"] = "cannot decode: %s" % e
        self._rec(**rec)
        step = self.world.support_step()
        if step and step.get("kind") == "status":
            st = int(step.get("status", 500))
            self._simple(st, html_page(st, self.responses.get(st, ("Error",))[0]))
        else:
            self._simple(200, b"OK", "text/html; charset=UTF-8")

    # --- file server -------------------------------------------------------------------------------

    def _file(self, method, path):
        w = self.world
        served = w.find_file(urllib.parse.unquote(path))
        rec = {"range": self.headers.get("Range"), "user_agent": self.headers.get("User-Agent")}
        step = w.file_step(path)
        kind = (step or {}).get("kind", "ok")
        rec["fault"] = kind
        rec["request_no"] = w.file_requests(path)
        if kind == "redirect":
            loc = w.expand(step.get("location", "file:///etc/passwd"), self.server.base_url)
            st = int(step.get("status", 302))
            self._simple(st, html_page(st, "Moved"), extra=[("Location", loc)])
            self._rec(status=st, location=loc, **rec)
            return
        if kind == "status" or (served is None and kind in ("ok", "ignore_range")):
            st = int(step.get("status", 500)) if kind == "status" else 404
            body = step.get("body") if kind == "status" else None
            body = body.encode() if body is not None else html_page(st, self.responses.get(st, ("Error",))[0])
            extra = [("Retry-After", str(step["retry_after"]))] if step and "retry_after" in step else []
            self._simple(st, body, extra=extra)
            self._rec(status=st, **rec)
            return
        if kind == "body":
            body = w.expand(step.get("body", ""), self.server.base_url).encode()
            st = int(step.get("status", 200))
            self._simple(st, body, step.get("content_type", "text/html; charset=UTF-8"))
            self._rec(status=st, **rec)
            return
        if served is None:
            self._simple(404, html_page(404, "Not Found"))
            self._rec(status=404, **rec)
            return
        size = served.size
        rng = parse_range(self.headers.get("Range"), size)
        if kind == "416" or rng == "unsatisfiable":
            self._simple(416, html_page(416, "Range Not Satisfiable"),
                         extra=[("Content-Range", "bytes */%d" % size)])
            self._rec(status=416, **rec)
            return
        if kind == "ignore_range" or rng is None:
            status, start, end = 200, 0, size
        else:
            status, (start, end) = 206, rng
        claimed = start
        if kind == "wrong_range_start" and status == 206:
            claimed = int(step["start"]) if "start" in step else max(0, start + int(step.get("delta", 1)))
            claimed = min(claimed, size - 1)
            start, end = claimed, max(claimed + (end - start), claimed)
            end = min(end, size)
        length = end - start
        declared = length
        if kind == "content_length":
            declared = int(step["declared"]) if "declared" in step else length + int(step.get("delta", 100))
        headers = [("Content-Type", "application/octet-stream"),
                   ("Content-Length", str(declared)),
                   ("Accept-Ranges", "bytes"),
                   ("Last-Modified", "Mon, 01 Jan 2024 00:00:00 GMT")]
        if status == 206:
            headers.append(("Content-Range", "bytes %d-%d/%d" % (claimed, end - 1, size)))
        self._send_head(status, headers)
        rec.update(status=status, start=start, length=length, declared=declared)
        if method == "HEAD":
            self._rec(sent=0, **rec)
            return
        sent, outcome = self._send_body(served, start, length, kind, step or {})
        self._rec(sent=sent, outcome=outcome, **rec)

    def _send_body(self, served, start, length, kind, step):
        limit = length
        if kind in ("drop", "stall"):
            limit = min(length, int(step.get("after", 0 if kind == "stall" else length // 2)))
        rate = int(step.get("rate", 1024)) if kind == "trickle" else 0
        corrupt_at = None
        if kind == "corrupt":
            corrupt_at = int(step.get("offset", start + length // 2))
        sent = 0
        try:
            for block in served.read(start, limit):
                if corrupt_at is not None and start + sent <= corrupt_at < start + sent + len(block):
                    i = corrupt_at - start - sent
                    block = block[:i] + bytes([block[i] ^ 0xFF]) + block[i + 1:]
                if rate:
                    piece = max(1, int(step.get("chunk", max(1, rate // 10))))
                    for i in range(0, len(block), piece):
                        if self.world.stopping.is_set():
                            return sent, "stopped"
                        self.wfile.write(block[i:i + piece])
                        sent += len(block[i:i + piece])
                        time.sleep(piece / rate)
                else:
                    if self.world.stopping.is_set():
                        return sent, "stopped"
                    self.wfile.write(block)
                    sent += len(block)
            if kind == "drop":
                self._abort(bool(step.get("reset", False)))
                return sent, "dropped"
            if kind == "stall":
                waited = self._wait(step.get("seconds", 30))
                if waited and step.get("then") == "continue":
                    for block in served.read(start + sent, length - sent):
                        self.wfile.write(block)
                        sent += len(block)
                    return sent, "stalled_then_completed"
                self._abort(bool(step.get("reset", False)))
                return sent, "stalled" if waited else "client_left_during_stall"
            return sent, "complete"
        except (BrokenPipeError, ConnectionResetError, socket.timeout, ssl.SSLError, OSError):
            return sent, "client_closed"

    # --- control ---------------------------------------------------------------------------------------

    def _control(self, method, path, query):
        w = self.world
        try:
            body = {}
            if method == "POST":
                data, _ = self._read_body()
                body = json.loads(data.decode("utf-8") or "{}")
            result = w.control(method, path, urllib.parse.parse_qs(query), body)
            status = 200
        except KeyError as e:
            result, status = {"error": "unknown endpoint %s" % e}, 404
        except Exception as e:
            result, status = {"error": str(e)}, 400
        self._simple(status, json.dumps(result).encode(), "application/json")


# --- helpers -------------------------------------------------------------------------------------------

def _query_param(query, name):
    for piece in query.split("&"):
        k, eq, v = piece.partition("=")
        if k == name and eq:
            return urllib.parse.unquote(v)
    return None


def parse_request_text(plain):
    """'func=X&a=1&...&NONCE' -> (first-wins dict, ordered pairs, nonce)."""
    fields, pairs, nonce = {}, [], None
    for piece in plain.split("&"):
        if "=" in piece:
            k, v = piece.split("=", 1)
            pairs.append([k, v])
            fields.setdefault(k, v)
        else:
            nonce = piece
            pairs.append([piece, None])
    return fields, pairs, nonce


def parse_range(value, size):
    """None (no usable Range), 'unsatisfiable', or (start, end_exclusive)."""
    if not value:
        return None
    value = value.strip()
    if not value.startswith("bytes=") or "," in value:
        return None
    ranges = value[6:].strip()
    first, dash, last = ranges.partition("-")
    if not dash:
        return None
    try:
        if first == "":
            n = int(last)
            if n <= 0:
                return "unsatisfiable"
            return (max(0, size - n), size)
        start = int(first)
        end = int(last) + 1 if last else size
    except ValueError:
        return None
    if start >= size or end <= start:
        return "unsatisfiable"
    return (start, min(end, size))


def _compact_json(text):
    """True when no white space stands outside string values."""
    in_str = esc = False
    for ch in text:
        if in_str:
            if esc:
                esc = False
            elif ch == "\\":
                esc = True
            elif ch == '"':
                in_str = False
        elif ch == '"':
            in_str = True
        elif ch in " \t\r\n":
            return False
    return True


def parse_multipart(body, boundary):
    """Split a multipart body; returns (leading_crlf, parts, closed, epilogue)."""
    delim = b"--" + boundary.encode()
    leading_crlf = body.startswith(b"\r\n" + delim)
    data = body if leading_crlf else b"\r\n" + body
    pieces = data.split(b"\r\n" + delim)
    parts, closed, epilogue = [], False, b""
    for piece in pieces[1:]:
        if piece.startswith(b"--"):
            closed, epilogue = True, piece[2:]
            break
        if not piece.startswith(b"\r\n"):
            raise ValueError("malformed boundary line")
        head, sep, content = piece[2:].partition(b"\r\n\r\n")
        if not sep:
            raise ValueError("part without header end")
        headers = head.decode("utf-8", "replace").split("\r\n")
        parts.append({"headers": headers, "content": content})
    return leading_crlf, parts, closed, epilogue


def _disposition(headers):
    out = {}
    for h in headers:
        if h.lower().startswith("content-disposition:"):
            for item in h.split(";")[1:]:
                k, _, v = item.strip().partition("=")
                out[k] = v.strip('"')
    return out


def expected_multipart(fields, file_field, filename, file_bytes):
    b = SUPPORT_BOUNDARY
    out = b"\r\n"
    for name, value in fields:
        out += ("--%s\r\nContent-Disposition: form-data; name=\"%s\"\r\n\r\n" % (b, name)).encode()
        out += value + b"\r\n"
    out += ("--%s\r\nContent-Disposition: form-data; name=\"%s\"; filename=\"%s\"\r\n"
            "Content-Type: application/octet-stream\r\n\r\n" % (b, file_field, filename)).encode()
    out += file_bytes + ("\r\n--%s--\r\n" % b).encode()
    return out


def _safe_member(name):
    if not name or name.startswith("/") or "\\" in name or "\0" in name:
        return None
    parts = [p for p in name.split("/") if p not in ("", ".")]
    if not parts or any(p == ".." or ":" in p for p in parts):
        return None
    return "/".join(parts)


def decode_support(headers, body, folder):
    out = {}
    errors = []
    ctype = headers.get("Content-Type", "")
    boundary = ""
    for item in ctype.split(";")[1:]:
        k, _, v = item.strip().partition("=")
        if k.lower() == "boundary":
            boundary = v.strip('"')
    if ctype != "multipart/form-data; boundary=" + SUPPORT_BOUNDARY:
        errors.append("Content-Type is %r" % ctype)
    if not boundary:
        raise ValueError("no boundary")
    cl = headers.get("Content-Length")
    if cl is None or int(cl) != len(body):
        errors.append("Content-Length %r for a body of %d bytes" % (cl, len(body)))
    leading, parts, closed, epilogue = parse_multipart(body, boundary)
    if not leading:
        errors.append("body does not start with CRLF and the boundary")
    if not closed or epilogue != b"\r\n":
        errors.append("closing boundary missing or followed by %r" % epilogue[:20])
    out["parts"] = []
    fields, file_part = [], None
    for p in parts:
        d = _disposition(p["headers"])
        info = {"headers": p["headers"], "name": d.get("name"), "size": len(p["content"])}
        if "filename" in d:
            info["filename"] = d["filename"]
            if file_part is None:
                file_part = (d.get("name"), d["filename"], p["content"])
        else:
            fields.append((d.get("name"), p["content"]))
            info["value"] = p["content"].decode("utf-8", "replace")
        out["parts"].append(info)
    out["fields"] = [[n, v.decode("utf-8", "replace")] for n, v in fields]
    if file_part is None:
        errors.append("no file part")
        out["format_errors"] = errors
        out["byte_exact"] = False
        return out
    file_field, filename, data = file_part
    out["file_field"], out["filename"] = file_field, filename
    out["byte_exact"] = body == expected_multipart(fields, file_field, filename, data)
    if not out["byte_exact"]:
        errors.append("body differs from the expected layout")
    out["format_errors"] = errors
    safe_name = os.path.basename(filename) or "report.json"
    with open(os.path.join(folder, safe_name), "wb") as f:
        f.write(data)
    out["bom"] = data.startswith(b"\xef\xbb\xbf")
    text = data[3:] if out["bom"] else data
    text = text.decode("utf-8")
    out["compact"] = _compact_json(text)
    doc = json.loads(text)
    email = doc.get("EMail", {}) if isinstance(doc, dict) else {}
    attachments = email.get("attachments", []) if isinstance(email, dict) else []
    summary = json.loads(json.dumps(doc))
    zips = []
    for i, att in enumerate(attachments if isinstance(attachments, list) else []):
        hex_text = att.get("zip_file", "") if isinstance(att, dict) else ""
        zname = os.path.basename(str(att.get("zip_namefile", "attachment%d.zip" % i))) or "attachment.zip"
        zinfo = {"zip_namefile": att.get("zip_namefile"), "hex_length": len(hex_text),
                 "hex_upper": hex_text == hex_text.upper()}
        try:
            zbytes = crypto.hex_decode(hex_text)
        except crypto.CryptoError as e:
            zinfo["error"] = str(e)
            zips.append(zinfo)
            continue
        zpath = os.path.join(folder, zname)
        with open(zpath, "wb") as f:
            f.write(zbytes)
        zinfo["path"] = zpath
        zinfo["size"] = len(zbytes)
        zinfo.update(_unpack(zpath, os.path.join(folder, "unpacked")))
        zips.append(zinfo)
        summary["EMail"]["attachments"][i]["zip_file"] = "<%d hex digits>" % len(hex_text)
    out["json"] = summary
    out["zips"] = zips
    return out


def _unpack(zpath, dest):
    info = {"members": [], "rejected": []}
    try:
        with zipfile.ZipFile(zpath) as z:
            total = 0
            for m in z.infolist():
                safe = _safe_member(m.filename)
                if safe is None:
                    info["rejected"].append(m.filename)
                    continue
                target = os.path.join(dest, safe)
                if m.is_dir():
                    os.makedirs(target, exist_ok=True)
                    continue
                total += m.file_size
                if total > MAX_POST:
                    info["rejected"].append(m.filename)
                    continue
                os.makedirs(os.path.dirname(target), exist_ok=True)
                with z.open(m) as src, open(target, "wb") as dst:
                    dst.write(src.read())
                info["members"].append({"name": m.filename, "size": m.file_size})
        info["unpacked"] = dest
    except zipfile.BadZipFile as e:
        info["error"] = "bad zip: %s" % e
    return info
