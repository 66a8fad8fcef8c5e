"""The world process: every server, the scenario, scripted answers and faults."""

import json
import logging
import os
import signal
import ssl
import threading
import time
import traceback

from . import certs
from . import crypto
from . import devices
from . import ftp_server
from .http_servers import WorldHTTPServer, html_page
from .client import WORLD_JSON
from .records import Recorder, read_records
from .scenario import FILE_FAULTS, WEB_ANSWERS, Scenario, Sequence, expand as expand_placeholders

CFG_NAME = "downloader.cfg"


class World:
    def __init__(self, directory, scenario_path=None, idle=1800, lifetime=14400, ports=None):
        self.dir = os.path.abspath(directory)
        os.makedirs(self.dir, exist_ok=True)
        self.scenario_path = scenario_path
        self.idle = float(idle)
        self.lifetime = float(lifetime)
        self.ports = ports or {}
        self.stopping = threading.Event()
        self._lock = threading.RLock()
        self._last_activity = time.monotonic()
        self._started = time.monotonic()
        self._support_n = 0
        self._file_counts = {}
        self._logfile = open(os.path.join(self.dir, "world.log"), "a", encoding="utf-8")
        self.recorder = Recorder(os.path.join(self.dir, "records.jsonl"))
        self.servers = {}
        self.ftp = None
        self.urls = {}
        self._apply_scenario(Scenario.load(scenario_path))

    # --- bookkeeping ---------------------------------------------------------------------

    def log(self, text, exc=False):
        with self._lock:
            self._logfile.write("%s %s\n" % (time.strftime("%H:%M:%S"), text))
            if exc:
                self._logfile.write(traceback.format_exc())
            self._logfile.flush()

    def touch(self):
        self._last_activity = time.monotonic()

    def next_support_number(self):
        with self._lock:
            self._support_n += 1
            return self._support_n

    @property
    def appkey(self):
        return self.scenario.appkey

    def expand(self, text, self_url=""):
        urls = dict(self.urls)
        urls["self"] = self_url
        return expand_placeholders(text, urls)

    # --- scenario, sequences ----------------------------------------------------------------

    def _apply_scenario(self, scenario):
        with self._lock:
            self.scenario = scenario
            self.faults = {p: Sequence(s, FILE_FAULTS) for p, s in scenario.faults.items()}
            self.web_seqs = {k: Sequence(v, self._web_kinds(k)) for k, v in scenario.web.items()}
            self.ftp_switches_doc = scenario.ftp
            self._file_counts = {}

    @staticmethod
    def _web_kinds(key):
        return {"normal", "status"} if key == "support" else WEB_ANSWERS

    def find_file(self, path):
        with self._lock:
            return self.scenario.find_file(path)

    def file_step(self, path):
        with self._lock:
            self._file_counts[path] = self._file_counts.get(path, 0) + 1
            seq = self.faults.get(path)
            return seq.next() if seq else None

    def file_requests(self, path):
        with self._lock:
            return self._file_counts.get(path, 0)

    def web_step(self, func):
        key = {"LOGINCHECK": "login", "PRODUCTSTOINSTALL": "products"}.get(func, "other")
        with self._lock:
            seq = self.web_seqs.get(key)
            return seq.next() if seq else None

    def support_step(self):
        with self._lock:
            seq = self.web_seqs.get("support")
            return seq.next() if seq else None

    # --- web-service answers -------------------------------------------------------------

    def _normal_answer(self, func, fields):
        sc = self.scenario
        if func == "LOGINCHECK":
            u = sc.user_by_login(fields.get("usr"))
            if (u and fields.get("pwd") == u.get("password") and fields.get("Token") == u.get("token")
                    and fields.get("sessionId") == u.get("sessionId")):
                return {"loginOK": True, "SessionId": u.get("sessionId"), "Token": u.get("token"),
                        "UserName": u.get("name", ""), "Email": u.get("email", u.get("user"))}
            return {"loginOK": False}
        if func == "PRODUCTSTOINSTALL":
            u = sc.user_by_session(fields.get("sessionId"), fields.get("Token"))
            if not u:
                return {"sessionOK": False}
            return {"sessionOK": True, "UserName": u.get("name", ""),
                    "Email": u.get("email", u.get("user")),
                    "Products": sc.product_list(u, self.urls)}
        return {"errorMsg": "ERROR 9002 unknown function"}

    def _filtered_products(self):
        good = {"Url": self.urls["files_https"] + "/gen/1/1000/f.bin", "Path": "/documents/Data/",
                "Name": "f", "File": "f.bin", "Size": 1000, "Md5": "00"}
        return [
            {"Id": 0, "Name": "Id zero", "Description": "", "Links": [dict(good, Name="a")]},
            {"Id": 901, "Name": "", "Description": "no name", "Links": [dict(good, Name="b")]},
            {"Id": 902, "Name": "No links", "Description": "", "Links": []},
            {"Id": 903, "Name": "Bad links", "Description": "", "Links": [
                dict(good, Name="c", Url=""), dict(good, Name="d", Path=""),
                {k: v for k, v in dict(good, Name="e").items() if k != "File"}]},
        ]

    def web_answer(self, func, fields, step):
        """(HTTP status, raw body bytes, answer as recorded)."""
        kind = (step or {}).get("kind", "normal")
        key = self.appkey
        step = step or {}
        login = func == "LOGINCHECK"
        doc = None
        if kind == "normal":
            doc = self._normal_answer(func, fields)
        elif kind == "refused":
            doc = {"loginOK": False} if login else {"sessionOK": False}
        elif kind == "expired":
            doc = {"errorMsg": "ERROR 2526 " + step.get("text", "Session expired")}
        elif kind == "error":
            doc = {"errorMsg": step.get("text", "ERROR 10 Internal error")}
        elif kind == "errorMsg":
            doc = {"errorMsg": step.get("text", "")}
        elif kind == "json":
            doc = step.get("body", {})
        elif kind == "no_session":
            doc = {"loginOK": True, "Token": fields.get("Token", "")}
        elif kind == "no_products":
            doc = {"sessionOK": True, "UserName": "", "Email": "", "Products": []}
        elif kind == "no_products_member":
            doc = {"sessionOK": True, "UserName": "", "Email": ""}
        elif kind == "filtered":
            doc = {"sessionOK": True, "UserName": "", "Email": "", "Products": self._filtered_products()}
        elif kind == "text":
            text = step.get("body", "")
            return 200, crypto.encipher(text, "TwoFish", key).encode(), text
        elif kind == "enciphered_empty":
            return 200, crypto.encipher("", "TwoFish", key).encode(), ""
        elif kind == "html":
            body = step.get("body")
            raw = body.encode() if body is not None else html_page(200, "Service maintenance")
            return int(step.get("status", 200)), raw, raw.decode("utf-8", "replace")
        elif kind == "empty":
            return 200, b"", ""
        elif kind == "raw":
            raw = step.get("body", "").encode()
            return int(step.get("status", 200)), raw, step.get("body", "")
        elif kind == "status":
            st = int(step.get("status", 500))
            raw = html_page(st, "Server error")
            return st, raw, raw.decode()
        else:
            doc = {"errorMsg": "ERROR 9003 unknown scripted answer %s" % kind}
        text = json.dumps(doc, ensure_ascii=False, separators=(",", ":"))
        return 200, crypto.encipher(text, "TwoFish", key).encode(), doc

    # --- control endpoint ----------------------------------------------------------------------

    def control(self, method, path, params, body):
        if path == "/ping":
            return {"ok": True}
        if path == "/state":
            with self._lock:
                return {"faults": {p: s.describe() for p, s in self.faults.items()},
                        "web": {k: s.describe() for k, s in self.web_seqs.items()},
                        "ftp": self.ftp_switches.values,
                        "file_requests": dict(self._file_counts)}
        if path == "/records" and method == "GET":
            since = int(params.get("since", ["0"])[0])
            server = params.get("server", [None])[0]
            return read_records(self.recorder.path, since, server)
        if method != "POST":
            raise KeyError(path)
        if path == "/faults":
            with self._lock:
                new = {}
                if "path" in body:
                    new[body["path"]] = Sequence(body.get("steps", []), FILE_FAULTS)
                for p, steps in body.get("faults", {}).items():
                    new[p] = Sequence(steps, FILE_FAULTS)
                if body.get("clear"):
                    self.faults = {}
                self.faults.update(new)
                self._file_counts = {}
            return {"ok": True}
        if path == "/web":
            with self._lock:
                new = {k: Sequence(body[k] or [], self._web_kinds(k))
                       for k in ("login", "products", "other", "support") if k in body}
                if body.get("clear"):
                    self.web_seqs = {}
                self.web_seqs.update(new)
            return {"ok": True}
        if path == "/ftp":
            self.ftp_switches.update(body)
            return {"ok": True, "ftp": self.ftp_switches.values}
        if path == "/scenario":
            base = body.pop("_base_dir", os.path.dirname(self.scenario_path or self.dir))
            self._apply_scenario(Scenario(body, base))
            self.ftp_switches.update(self._ftp_doc_switches())
            return {"ok": True}
        if path == "/shutdown":
            self.stopping.set()
            return {"ok": True}
        raise KeyError(path)

    def _ftp_doc_switches(self):
        return {k: v for k, v in self.scenario.ftp.items() if k in ftp_server.Switches.DEFAULTS}

    # --- start, run, stop -----------------------------------------------------------------------

    def start(self):
        paths = certs.make_certs(os.path.join(self.dir, "certs"))

        def ctx(stem):
            c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            c.load_cert_chain(paths[stem + ".pem"], paths[stem + ".key"])
            return c
        good, wrong = ctx("server"), ctx("wronghost")
        layout = [("web", {"web", "support"}, good), ("support", {"support"}, good),
                  ("stats", {"stats"}, None), ("files_http", {"files"}, None),
                  ("files_https", {"files"}, good), ("badcert", {"web", "support", "files"}, wrong),
                  ("control", {"control"}, None)]
        for name, roles, context in layout:
            srv = WorldHTTPServer(self, name, roles, context, int(self.ports.get(name, 0)))
            self.servers[name] = srv
            self.urls[name] = srv.base_url
        self.ftp_switches = ftp_server.Switches(self._ftp_doc_switches())
        ftp_root = os.path.join(self.dir, "ftp_root")
        ftp_server.build_ftp_root(ftp_root, self.scenario.ftp)
        ftplog = logging.getLogger("pyftpdlib")
        handler = logging.FileHandler(os.path.join(self.dir, "world.log"))
        handler.setFormatter(logging.Formatter("%(asctime)s ftp %(message)s", "%H:%M:%S"))
        ftplog.addHandler(handler)
        ftplog.setLevel(logging.WARNING)
        ftplog.propagate = False
        self.ftp = ftp_server.PhoneFTPServer(self, ftp_root, self.ftp_switches,
                                             int(self.ports.get("ftp", 0)))
        volumes = os.path.join(self.dir, "volumes")
        os.makedirs(volumes, exist_ok=True)
        if self.scenario.devices:
            devices.build_all(volumes, self.scenario.devices, home=os.path.join(self.dir, "home"))
        for name, srv in self.servers.items():
            threading.Thread(target=srv.serve_forever, kwargs={"poll_interval": 0.2},
                             name=name, daemon=True).start()
        self.ftp.start()
        self._write_files(paths, ftp_root, volumes)

    def _write_files(self, paths, ftp_root, volumes):
        def host(name):
            return "127.0.0.1:%d" % self.servers[name].port
        info = {
            "pid": os.getpid(), "dir": self.dir, "state": "up", "appkey": self.appkey,
            "scenario": os.path.abspath(self.scenario_path) if self.scenario_path else None,
            "web": {"port": self.servers["web"].port, "host": host("web"), "url": self.urls["web"],
                    "index_url": self.urls["web"] + "/installwizard/index.php?"},
            "support": {"port": self.servers["support"].port, "host": host("support"),
                        "url": self.urls["support"] + "/installwizard/enviaemail.php"},
            "stats": {"port": self.servers["stats"].port, "host": host("stats"),
                      "url": self.urls["stats"] + "/middleware/StatusInformation/index.php?par="},
            "files_http": {"port": self.servers["files_http"].port, "url": self.urls["files_http"]},
            "files_https": {"port": self.servers["files_https"].port, "url": self.urls["files_https"]},
            "badcert": {"port": self.servers["badcert"].port, "host": host("badcert"),
                        "url": self.urls["badcert"]},
            "control": {"port": self.servers["control"].port, "url": self.urls["control"]},
            "ftp": {"port": self.ftp.port, "host": "127.0.0.1", "user": ftp_server.USER,
                    "password": str(self.ftp_switches.get("password")), "root": ftp_root},
            "ca_file": paths["ca.pem"], "cfg_file": os.path.join(self.dir, CFG_NAME),
            "records": self.recorder.path, "log": os.path.join(self.dir, "world.log"),
            "volumes_root": volumes, "home": os.path.join(self.dir, "home"),
            "support_dir": os.path.join(self.dir, "support"),
            "idle_timeout": self.idle, "lifetime": self.lifetime,
        }
        cfg = ("WebServerUrl=%s\nStatsServerUrl=%s\nSupportServerUrl=%s\nCAFile=%s\nVolumesRoot=%s\n"
               % (host("web"), host("stats"), host("support"), paths["ca.pem"], volumes))
        _atomic_write(info["cfg_file"], cfg)
        _atomic_write(os.path.join(self.dir, WORLD_JSON), json.dumps(info, indent=2) + "\n")
        self.info = info

    def run(self):
        """Serve until down, SIGTERM, the idle limit or the lifetime ends."""
        signal.signal(signal.SIGTERM, lambda *a: self.stopping.set())
        signal.signal(signal.SIGINT, lambda *a: self.stopping.set())
        reason = "down"
        while not self.stopping.wait(0.2):
            now = time.monotonic()
            if now - self._last_activity > self.idle:
                reason = "idle limit"
                break
            if now - self._started > self.lifetime:
                reason = "lifetime limit"
                break
        self.stopping.set()
        self.log("stopping: %s" % reason)
        self.stop()

    def stop(self):
        stoppers = [threading.Thread(target=srv.shutdown) for srv in self.servers.values()]
        for t in stoppers:
            t.start()
        for t in stoppers:
            t.join(5)
        for srv in self.servers.values():
            srv.server_close()
        if self.ftp:
            self.ftp.stop()
        info = dict(getattr(self, "info", {}))
        if info:
            info["state"] = "stopped"
            _atomic_write(os.path.join(self.dir, WORLD_JSON), json.dumps(info, indent=2) + "\n")
        self.recorder.close()


def _atomic_write(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(tmp, path)
