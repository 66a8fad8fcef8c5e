"""Scenario: users, served files, products, scripted answers and faults."""

import copy
import hashlib
import io
import json
import os
import posixpath
import tarfile
import threading
import zipfile

from . import content
from . import crypto

TOOLS_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_SCENARIO = os.path.join(TOOLS_DIR, "scenarios", "demo.json")

# Served files: kept in memory up to this size when built from a scenario (zip,
# tar, text); larger ones are generated on the fly.
MAX_BUILT = 64 * 1024 * 1024


class ScenarioError(ValueError):
    pass


# --- files ------------------------------------------------------------------------

class ServedFile:
    """One file of the file server: size, MD5 and a reader of byte ranges."""

    def __init__(self, size, reader, md5=None, md5_fn=None):
        self.size = size
        self._reader = reader
        self._md5 = md5
        self._md5_fn = md5_fn
        self._lock = threading.Lock()

    def read(self, start, length):
        """Yield the bytes [start, start+length) in chunks."""
        return self._reader(start, length)

    @property
    def md5(self):
        with self._lock:
            if self._md5 is None:
                self._md5 = self._md5_fn()
            return self._md5


def _from_bytes(data):
    def reader(start, length):
        for pos in range(start, start + length, 1 << 20):
            yield data[pos:min(start + length, pos + (1 << 20))]
    return ServedFile(len(data), reader, md5=hashlib.md5(data).hexdigest())


def _from_disk(path):
    size = os.path.getsize(path)

    def reader(start, length):
        with open(path, "rb") as f:
            f.seek(start)
            left = length
            while left > 0:
                block = f.read(min(left, 1 << 20))
                if not block:
                    return
                left -= len(block)
                yield block

    def md5():
        h = hashlib.md5()
        with open(path, "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                h.update(block)
        return h.hexdigest()
    return ServedFile(size, reader, md5_fn=md5)


def generated_file(seed, size):
    return ServedFile(size, lambda start, length: content.generate(seed, start, length),
                      md5_fn=lambda: content.md5_generated(seed, size))


def _member_bytes(recipe, base_dir):
    if "text" in recipe:
        return recipe["text"].encode("utf-8")
    if "gen" in recipe:
        g = recipe["gen"]
        if g["size"] > MAX_BUILT:
            raise ScenarioError("archive member too large to build: %r" % g)
        return content.generated_bytes(int(g.get("seed", 0)), 0, int(g["size"]))
    if "file" in recipe:
        with open(os.path.join(base_dir, recipe["file"]), "rb") as f:
            return f.read()
    if "hex" in recipe:
        return bytes.fromhex(recipe["hex"])
    raise ScenarioError("member needs text, gen, file or hex: %r" % recipe)


def _build_zip(members, base_dir):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for name, recipe in members.items():
            info = zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            if name.endswith("/"):
                info.external_attr = (0o755 << 16) | 0x10
                z.writestr(info, b"")
            else:
                z.writestr(info, _member_bytes(recipe, base_dir))
    return buf.getvalue()


def _build_tar(members, base_dir, gz):
    buf = io.BytesIO()
    # mtime fixed and gzip header without a name or time: same bytes every run.
    raw = io.BytesIO()
    with tarfile.open(fileobj=raw, mode="w", format=tarfile.USTAR_FORMAT) as t:
        for name, recipe in members.items():
            info = tarfile.TarInfo(name.rstrip("/"))
            info.mtime = 1704067200
            if name.endswith("/"):
                info.type = tarfile.DIRTYPE
                info.mode = 0o755
                t.addfile(info)
            else:
                data = _member_bytes(recipe, base_dir)
                info.size = len(data)
                info.mode = 0o644
                t.addfile(info, io.BytesIO(data))
    if not gz:
        return raw.getvalue()
    import gzip
    with gzip.GzipFile(fileobj=buf, mode="wb", filename="", mtime=0) as g:
        g.write(raw.getvalue())
    return buf.getvalue()


def build_file(recipe, base_dir):
    if "gen" in recipe:
        g = recipe["gen"]
        return generated_file(int(g.get("seed", 0)), int(g["size"]))
    if "file" in recipe:
        return _from_disk(os.path.join(base_dir, recipe["file"]))
    if "zip" in recipe:
        return _from_bytes(_build_zip(recipe["zip"], base_dir))
    if "tar" in recipe:
        return _from_bytes(_build_tar(recipe["tar"], base_dir, False))
    if "tar.gz" in recipe:
        return _from_bytes(_build_tar(recipe["tar.gz"], base_dir, True))
    return _from_bytes(_member_bytes(recipe, base_dir))


def parse_gen_path(path):
    """'/gen/SEED/SIZE/name' -> (seed, size) or None."""
    parts = path.split("/")
    if len(parts) >= 5 and parts[1] == "gen" and parts[2].isdigit() and parts[3].isdigit():
        return int(parts[2]), int(parts[3])
    return None


# --- scripted sequences -----------------------------------------------------------------

FILE_FAULTS = {"ok", "drop", "ignore_range", "wrong_range_start", "416", "status", "stall", "trickle",
               "redirect", "content_length", "corrupt", "body"}
WEB_ANSWERS = {"normal", "refused", "expired", "error", "errorMsg", "json", "no_session", "no_products",
               "no_products_member", "filtered", "text", "enciphered_empty", "html", "empty", "raw",
               "status", "stall"}


class Sequence:
    """Steps applied to successive requests.  Each step has "count" (default 1;
    null or "always" means every later request).  After the last step: None."""

    def __init__(self, steps=None, kinds=None):
        if isinstance(steps, dict):
            steps = [steps]
        self.steps = [dict(s) for s in (steps or [])]
        for s in self.steps:
            if kinds is not None and s.get("kind", "ok" if "ok" in kinds else "normal") not in kinds:
                raise ScenarioError("unknown kind %r (known: %s)" % (s.get("kind"), ", ".join(sorted(kinds))))
        self.seen = 0
        self._i = 0
        self._used = 0

    def next(self):
        self.seen += 1
        while self._i < len(self.steps):
            step = self.steps[self._i]
            count = step.get("count", 1)
            if count is None or count == "always":
                return step
            if self._used < int(count):
                self._used += 1
                return step
            self._i += 1
            self._used = 0
        return None

    def describe(self):
        return {"steps": self.steps, "requests": self.seen}


# --- the scenario -----------------------------------------------------------------------------

def expand(text, urls):
    if not isinstance(text, str):
        return text
    for k, v in urls.items():
        text = text.replace("{%s}" % k, v)
    return text


class Scenario:
    def __init__(self, doc, base_dir):
        self.doc = doc
        self.base_dir = base_dir
        self.appkey = doc.get("appkey", crypto.DEFAULT_APPKEY)
        self.users = doc.get("users", [])
        self.files = {}
        for path, recipe in doc.get("files", {}).items():
            if not path.startswith("/"):
                raise ScenarioError("file path must start with '/': %r" % path)
            self.files[path] = build_file(recipe, base_dir)
        self.products = doc.get("products", [])
        self.web = doc.get("web", {})
        self.faults = doc.get("faults", {})
        for steps in self.faults.values():
            Sequence(steps, FILE_FAULTS)
        for steps in doc.get("web", {}).values():
            Sequence(steps, WEB_ANSWERS)
        self.ftp = doc.get("ftp", {})
        self.devices = doc.get("devices", [])

    @classmethod
    def load(cls, path=None):
        path = path or DEFAULT_SCENARIO
        with open(path, encoding="utf-8") as f:
            doc = json.load(f)
        return cls(doc, os.path.dirname(os.path.abspath(path)))

    def find_file(self, path):
        f = self.files.get(path)
        if f is not None:
            return f
        gen = parse_gen_path(path)
        if gen:
            return generated_file(*gen)
        return None

    def user_by_login(self, usr):
        for u in self.users:
            if u.get("user") == usr:
                return u
        return None

    def user_by_session(self, session, token):
        for u in self.users:
            if u.get("sessionId") == session and u.get("token") == token:
                return u
        return None

    def product_list(self, user, urls):
        """The "Products" array for a user, with links completed from served files."""
        wanted = user.get("products")
        out = []
        for p in self.products:
            if wanted is not None and p.get("Id") not in wanted:
                continue
            q = {k: v for k, v in p.items() if k != "Links"}
            links = []
            for link in p.get("Links", []):
                links.append(self._complete_link(link, urls))
            q["Links"] = links
            out.append({k: v for k, v in q.items() if v is not None})
        return out

    def _complete_link(self, link, urls):
        link = copy.deepcopy(link)
        path = link.pop("file", None)
        scheme = link.pop("scheme", "https")
        if path is not None:
            served = self.find_file(path)
            if served is None:
                raise ScenarioError("link names a file that is not served: %r" % path)
            base = posixpath.basename(path)
            link.setdefault("Url", "{files_%s}%s" % (scheme, path))
            link.setdefault("Size", served.size)
            link.setdefault("Md5", served.md5)
            link.setdefault("File", base)
            link.setdefault("Name", base.rsplit(".", 1)[0])
        order = ["Url", "Path", "Name", "File", "Optional", "Size", "Md5"]
        keys = [k for k in order if k in link] + [k for k in link if k not in order]
        return {k: expand(link[k], urls) for k in keys if link[k] is not None}
