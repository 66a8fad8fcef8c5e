"""`tools/world`: start, drive and stop the simulated world; build and read links."""

import argparse
import json
import sys

from . import client
from . import crypto
from . import devices
from . import link as links


def _cmd_up(a):
    ports = {}
    for item in a.port or []:
        name, _, num = item.partition("=")
        ports[name] = int(num)
    if a.ftp_port is not None:
        ports["ftp"] = a.ftp_port
    info = client.up(a.dir, a.scenario, a.idle, a.lifetime, ports)
    info.pop("_proc", None)
    if a.json:
        print(json.dumps(info, indent=2))
    else:
        print("world up in %s (pid %d)" % (info["dir"], info["pid"]))
        print("  web service   %s" % info["web"]["index_url"])
        print("  files         %s  %s" % (info["files_http"]["url"], info["files_https"]["url"]))
        print("  statistics    %s" % info["stats"]["url"])
        print("  support       %s" % info["support"]["url"])
        print("  ftp           127.0.0.1:%d (user %s)" % (info["ftp"]["port"], info["ftp"]["user"]))
        print("  control       %s" % info["control"]["url"])
        print("  downloader.cfg %s" % info["cfg_file"])
    return 0


def _cmd_down(a):
    was = client.down(a.dir)
    print("world down" if was else "no world running in %s" % a.dir)
    return 0


def _cmd_status(a):
    try:
        info = client.read_info(a.dir)
    except OSError:
        print("no world in %s" % a.dir)
        return 1
    alive = client._alive(info.get("pid", 0))
    print(json.dumps({"state": info.get("state"), "alive": alive, "pid": info.get("pid")}))
    return 0 if alive else 1


def _cmd_link(a):
    text = links.link_json(a.user, a.password, a.token, a.session, login_ok=not a.login_ko,
                           idioma=a.idioma, escaped=a.escaped)
    scheme = links.SCHEME2 if a.scheme2 else links.SCHEME
    print(scheme + links.make_params(text, a.key))
    return 0


def _cmd_readlink(a):
    try:
        if a.raw:
            print(links.read_link_text(a.link, a.key))
        else:
            print(json.dumps(links.read_link(a.link, a.key), ensure_ascii=False))
    except (crypto.CryptoError, ValueError) as e:
        print("cannot read link: %s" % e, file=sys.stderr)
        return 1
    return 0


def _cmd_control(a):
    body = None
    if a.json is not None:
        body = json.loads(a.json)
    elif a.endpoint in ("/shutdown",):
        body = {}
    print(json.dumps(client.control(a.dir, a.endpoint, body), indent=2))
    return 0


def _cmd_fault(a):
    steps = json.loads(a.steps)
    if isinstance(steps, dict):
        steps = [steps]
    print(json.dumps(client.control(a.dir, "/faults", {"path": a.path, "steps": steps})))
    return 0


def _cmd_records(a):
    for r in client.records(a.dir, a.since, a.server):
        print(json.dumps(r, ensure_ascii=False))
    return 0


def _cmd_encipher(a):
    print(crypto.encipher(a.text, a.method, a.key))
    return 0


def _cmd_decipher(a):
    try:
        sys.stdout.write(crypto.decipher(a.text, a.method, a.key).decode("utf-8", "replace") + "\n")
    except crypto.CryptoError as e:
        print("cannot decipher: %s" % e, file=sys.stderr)
        return 1
    return 0


def devices_main(argv=None):
    ap = argparse.ArgumentParser(
        prog="make-devices",
        description="Build device volumes under a volumes root. With --size the volumes are "
                    "tmpfs mounts: run as root inside a private mount namespace "
                    "(unshare --mount).")
    ap.add_argument("--root", required=True, help="the volumes root (VolumesRoot=)")
    ap.add_argument("--home", help="folder for desktop installs (default ROOT/../home)")
    ap.add_argument("--layout", help="JSON file: a list of device layouts")
    ap.add_argument("--device", action="append", default=[],
                    help="KIND[:VOLUME][,card=CARD][,size=16M][,card_size=8M][,key=value...]")
    ap.add_argument("--list-kinds", action="store_true")
    a = ap.parse_args(argv)
    if a.list_kinds:
        print("\n".join(devices.all_kinds()))
        return 0
    layouts = []
    if a.layout:
        with open(a.layout, encoding="utf-8") as f:
            layouts += json.load(f)
    for d in a.device:
        head, *rest = d.split(",")
        kind, _, vol = head.partition(":")
        layout = {"kind": kind}
        if vol:
            layout["volume"] = vol
        for item in rest:
            k, _, v = item.partition("=")
            layout[k] = v
        layouts.append(layout)
    try:
        for path in devices.build_all(a.root, layouts, a.home):
            print(path)
    except (devices.DeviceError, OSError) as e:
        print("make-devices: %s" % e, file=sys.stderr)
        return 1
    return 0


def main(argv=None):
    ap = argparse.ArgumentParser(prog="world", description="The simulated world of Downloader.")
    sub = ap.add_subparsers(dest="cmd", required=True)

    p = sub.add_parser("up", help="start every server; returns once all listen")
    p.add_argument("--dir", required=True)
    p.add_argument("--scenario", help="scenario JSON (default tools/scenarios/demo.json)")
    p.add_argument("--idle", type=float, default=1800, help="stop after this many idle seconds")
    p.add_argument("--lifetime", type=float, default=14400, help="stop after this many seconds")
    p.add_argument("--ftp-port", type=int, help="FTP port (default: a free one)")
    p.add_argument("--port", action="append", help="NAME=PORT for web, support, stats, "
                   "files_http, files_https, badcert, control, ftp")
    p.add_argument("--json", action="store_true", help="print world.json")
    p.set_defaults(fn=_cmd_up)

    p = sub.add_parser("down", help="stop the world of --dir")
    p.add_argument("--dir", required=True)
    p.set_defaults(fn=_cmd_down)

    p = sub.add_parser("status")
    p.add_argument("--dir", required=True)
    p.set_defaults(fn=_cmd_status)

    p = sub.add_parser("link", help="print an install link")
    p.add_argument("--user", required=True)
    p.add_argument("--password", required=True)
    p.add_argument("--token", required=True)
    p.add_argument("--session", required=True)
    p.add_argument("--idioma", default="en")
    p.add_argument("--login-ko", action="store_true", help='"loginOK": false')
    p.add_argument("--escaped", action="store_true", help='quotes written as \\"')
    p.add_argument("--scheme2", action="store_true", help='use "quillinstallwizard2:"')
    p.add_argument("--key", default=crypto.DEFAULT_APPKEY)
    p.set_defaults(fn=_cmd_link)

    p = sub.add_parser("readlink", help="print the JSON inside an install link")
    p.add_argument("link")
    p.add_argument("--raw", action="store_true", help="the inflated text as it is")
    p.add_argument("--key", default=crypto.DEFAULT_APPKEY)
    p.set_defaults(fn=_cmd_readlink)

    p = sub.add_parser("control", help="call the control endpoint")
    p.add_argument("--dir", required=True)
    p.add_argument("endpoint", help="/ping /state /faults /web /ftp /scenario /records /shutdown")
    p.add_argument("json", nargs="?", help="JSON body (POST); none: GET")
    p.set_defaults(fn=_cmd_control)

    p = sub.add_parser("fault", help="script the faults of one file-server path")
    p.add_argument("--dir", required=True)
    p.add_argument("path")
    p.add_argument("steps", help='JSON step or list of steps, e.g. \'{"kind":"drop","after":1000}\'')
    p.set_defaults(fn=_cmd_fault)

    p = sub.add_parser("records", help="print recorded requests")
    p.add_argument("--dir", required=True)
    p.add_argument("--since", type=int, default=0)
    p.add_argument("--server")
    p.set_defaults(fn=_cmd_records)

    for name, fn in (("encipher", _cmd_encipher), ("decipher", _cmd_decipher)):
        p = sub.add_parser(name, help="%s a text with a method" % name)
        p.add_argument("text")
        p.add_argument("--method", default="TwoFish", choices=crypto.METHODS)
        p.add_argument("--key", default=crypto.DEFAULT_APPKEY)
        p.set_defaults(fn=fn)

    p = sub.add_parser("make-devices", help="build device volumes (see make-devices --help)",
                       add_help=False)
    p.add_argument("rest", nargs=argparse.REMAINDER)
    p.set_defaults(fn=lambda a: devices_main(a.rest))

    a = ap.parse_args(argv)
    try:
        return a.fn(a)
    except client.WorldError as e:
        print("world: %s" % e, file=sys.stderr)
        return 1
