"""The phone app's FTP server (pyftpdlib): user "Orvane", SITE CALL PRIV, ALLO,
REST, ABOR, MDTM, SIZE and a LIST format with the time of day, and the "/priv"
folder holding RegInfo.ini and gps.ini."""

import os
import shutil
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer, AuthenticationFailed
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, DTPHandler, proto_cmds
from pyftpdlib.servers import FTPServer

USER = "Orvane"
DEFAULT_PASSWORD = "1234"
DOCS = "/var/mobile/Containers/Data/Application/5F3C2A10-7B1E-4D2A-9C44-0E1D2B3A4C5D/Documents"

DEFAULT_REGINFO = {"devid": "IPH-0001-DEMO", "version": "3.2", "os": "iOS",
                   "product": "iPhone", "unittype": "STORAGE", "cid": "0"}

_MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]


def default_gps_ini():
    return ("[Directorios]\r\n"
            "Maps2=%s/Maps\r\n"
            "Data=%s/Data\r\n"
            "SpeedCams=%s/Radars\r\n" % (DOCS, DOCS, DOCS))


def reginfo_text(values):
    return "".join("%s=%s\r\n" % (k, v) for k, v in values.items())


class Switches:
    """Behaviour switches, changed at run time by the control endpoint."""

    DEFAULTS = {"password": DEFAULT_PASSWORD, "no_site": False, "no_priv": False,
                "refuse_login": False, "allo": "ok", "allo_limit_kb": None,
                "drop_after": None, "list_style": "time"}

    def __init__(self, values=None):
        self._lock = threading.Lock()
        self.values = dict(self.DEFAULTS)
        self.update(values or {})

    def update(self, values):
        with self._lock:
            for k, v in values.items():
                if k in self.DEFAULTS:
                    self.values[k] = v

    def get(self, key):
        with self._lock:
            return self.values[key]


def build_ftp_root(root, ftp_doc):
    """The phone's folder tree: /priv (RegInfo.ini, gps.ini), /Maps, /Data, /Radars
    and any extra files of the scenario."""
    if os.path.isdir(root):
        shutil.rmtree(root)
    for d in ("priv", "Maps", "Data", "Radars"):
        os.makedirs(os.path.join(root, d))
    reg = dict(DEFAULT_REGINFO)
    reg.update(ftp_doc.get("reginfo", {}))
    reginfo = ftp_doc.get("reginfo_text", reginfo_text(reg))
    if reginfo is not None:
        with open(os.path.join(root, "priv", "RegInfo.ini"), "w", newline="") as f:
            f.write(reginfo)
    gps = ftp_doc.get("gps_ini", default_gps_ini())
    if gps is not None:
        with open(os.path.join(root, "priv", "gps.ini"), "w", newline="") as f:
            f.write(gps)
    for rel, text in ftp_doc.get("files", {}).items():
        target = os.path.join(root, rel.lstrip("/"))
        if not os.path.realpath(target).startswith(os.path.realpath(root) + os.sep):
            continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "w", newline="") as f:
            f.write(text)


class PhoneFS(AbstractedFS):
    """Listing lines always carry the time of day (the client finds the name four
    characters after its ':'), or with list_style "fixed62" a year and the name
    at column 62."""

    switches = None

    def _hidden(self, path):
        return self.switches.get("no_priv") and (
            self.fs2ftp(path) == "/priv" or self.fs2ftp(path).startswith("/priv/"))

    def isdir(self, path):
        return False if self._hidden(path) else super().isdir(path)

    def listdir(self, path):
        names = super().listdir(path)
        if self.switches.get("no_priv") and self.fs2ftp(path) == "/":
            names = [n for n in names if n != "priv"]
        return names

    def chdir(self, path):
        if self._hidden(path):
            raise OSError(2, "No such file or directory")
        return super().chdir(path)

    def open(self, filename, mode):
        if self._hidden(filename):
            raise OSError(2, "No such file or directory")
        return super().open(filename, mode)

    def format_list(self, basedir, listing, ignore_err=True):
        style = self.switches.get("list_style")
        for basename in listing:
            path = os.path.join(basedir, basename)
            try:
                st = self.lstat(path)
            except OSError:
                if ignore_err:
                    continue
                raise
            isdir = os.path.isdir(path)
            perms = "drwxr-xr-x" if isdir else "-rw-r--r--"
            tm = time.gmtime(st.st_mtime)
            if style == "fixed62":
                head = "%s 1 owner group %d %s %02d %d" % (
                    perms, 0 if isdir else st.st_size, _MONTHS[tm.tm_mon - 1], tm.tm_mday, tm.tm_year)
                line = head.ljust(61) + " " + basename
            else:
                line = "%s   1 owner    group    %12d %s %02d %02d:%02d %s" % (
                    perms, 0 if isdir else st.st_size, _MONTHS[tm.tm_mon - 1], tm.tm_mday,
                    tm.tm_hour, tm.tm_min, basename)
            yield (line + "\r\n").encode("utf-8")


class PhoneAuthorizer(DummyAuthorizer):
    switches = None

    def validate_authentication(self, username, password, handler):
        if self.switches.get("refuse_login") or username != USER \
                or password != str(self.switches.get("password")):
            raise AuthenticationFailed("Login incorrect.")


class DroppingDTP(DTPHandler):
    """Data channel that can drop both connections after a number of bytes."""

    def _limit(self):
        return self.cmd_channel.switches.get("drop_after")

    def _drop(self):
        handler = self.cmd_channel
        handler.world_record(event="dropped", after=self.get_transmitted_bytes())
        self.ioloop.call_later(0, handler.close, _errback=lambda: None)

    def send(self, data):
        limit = self._limit()
        if limit is not None and self.tot_bytes_sent + len(data) >= int(limit):
            data = data[:max(0, int(limit) - self.tot_bytes_sent)]
            sent = super().send(data) if data else 0
            self._drop()
            return sent
        return super().send(data)

    def recv(self, buffer_size):
        chunk = super().recv(buffer_size)
        limit = self._limit()
        if limit is not None and self.tot_bytes_received >= int(limit):
            self._drop()
        return chunk


class PhoneHandler(FTPHandler):
    dtp_handler = DroppingDTP
    abstracted_fs = PhoneFS
    use_sendfile = False
    banner = "Orvane FTP server ready."
    timeout = 120
    auth_failed_timeout = 0.1
    switches = None
    world = None
    proto_cmds = dict(proto_cmds)
    proto_cmds["SITE CALL"] = dict(perm=None, auth=True, arg=True,
                                   help="Syntax: SITE CALL <SP> PRIV.")

    _last_cmd = None

    def world_record(self, **fields):
        self.world.recorder.record("ftp", **fields)

    def pre_process_command(self, line, cmd, arg):
        self.world.touch()
        shown = line if cmd != "PASS" else "PASS ******"
        self._last_cmd = shown
        return super().pre_process_command(line, cmd, arg)

    def respond(self, resp, logfun=None):
        if self._last_cmd is not None or resp.startswith("220"):
            self.world_record(command=self._last_cmd, reply=resp)
        if logfun is None:
            return super().respond(resp)
        return super().respond(resp, logfun)

    def ftp_SITE_CALL(self, line):
        if self.switches.get("no_site"):
            self.respond('500 Command "SITE CALL" not understood.')
        elif line.strip().upper() == "PRIV":
            self.respond("200 OK")
        else:
            self.respond("501 Unknown SITE CALL argument.")

    def ftp_ALLO(self, line):
        mode = self.switches.get("allo")
        limit = self.switches.get("allo_limit_kb")
        try:
            units = int(line.split()[0])
        except (ValueError, IndexError):
            self.respond("501 Invalid ALLO argument.")
            return
        if limit is not None and units > int(limit) * 1000:
            self.respond("552 Not enough space.")
        elif mode == "ok":
            self.respond("200 OK")
        elif mode == "ok_blank":
            self.respond("200 OK ")
        elif mode == "202":
            self.respond("202 No storage allocation necessary.")
        else:
            self.respond("552 Not enough space.")


class PhoneFTPServer:
    """pyftpdlib server run by one thread until stopped."""

    def __init__(self, world, root, switches, port=0):
        PhoneFS.switches = switches
        PhoneAuthorizer.switches = switches
        PhoneHandler.switches = switches
        PhoneHandler.world = world
        auth = PhoneAuthorizer()
        auth.add_user(USER, "", root, perm="elradfmwMT")
        PhoneHandler.authorizer = auth
        PhoneHandler.passive_ports = None
        PhoneHandler.masquerade_address = None
        self.server = FTPServer(("127.0.0.1", port), PhoneHandler)
        self.server.max_cons = 32
        self.port = self.server.address[1]
        self._thread = None
        self._stop = threading.Event()

    def start(self):
        def run():
            while not self._stop.is_set():
                self.server.ioloop.loop(0.2, blocking=False)
            self.server.close_all()
        self._thread = threading.Thread(target=run, name="ftp", daemon=True)
        self._thread.start()

    def stop(self):
        self._stop.set()
        if self._thread:
            self._thread.join(5)
