"""Device volumes with the identity and settings files of each kind of device and
card, and the desktop applications' folders.

A volume is a folder under the volumes root (plain folder, or a tmpfs mount of a
given size when the caller is root inside a private mount namespace).
"""

import os
import subprocess

# kind name -> (product word, layout, card unit type or None when it takes no card)
KINDS = {
    "ridgeway": ("Ridgeway", "internal", "STORAGE CARD"),
    "stride": ("Stride", "internal", "SD CARD"),
    "strideplus": ("StridePlus", "internal", "SD CARD"),
    "stride2": ("Stride2", "internal", "SD CARD"),
    "stride2plus": ("Stride2Plus", "internal", "SD CARD"),
    "fjord": ("Fjord", "internal", "SDMMC"),
    "summit": ("Summit", "summit", None),
    "pulse": ("Pulse", "internal", "SD CARD"),
    "pulseplus": ("PulsePlus", "internal", "SD CARD"),
    "android": ("Android", "android", None),
    "recover": ("Stride", "recover", None),
}
for _i, _line in enumerate(("spoke", "ridgeway", "zenith", "ramble")):
    for _gen, _prefix in (("2017", "orvane"), ("2018", "orvane"), ("2017", "os"), ("2018", "os")):
        _word = "%s-%s-%s" % (_prefix, _line, _gen)
        # Ridgeway and Zenith lines take a memory card.
        KINDS[_word] = (_word, "linux", "SD CARD" if _line in ("ridgeway", "zenith") else None)
KINDS["orvane-peakline-2018"] = ("orvane-peakline-2018", "linux", None)

DESKTOP = {
    "meadow": ("Quillmap MEADOW", "Windows"),
    "meadow-mac": ("Quillmap WX", "Mac"),
    "cirrus": ("Quillmap CIRRUS", "Windows"),
    "orvane-pc": ("Orvane", "Windows"),
}

EXTRA_KINDS = ("card-only", "plain")

INTERNAL_UNIT = "INTERNAL"


class DeviceError(ValueError):
    pass


def _write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", newline="", encoding="utf-8") as f:
        f.write(text)


def reginfo(devid, version, os_name, product, unittype, cid="0"):
    """The identity file: key=value lines ended by CR LF, under a section line."""
    lines = ["[RegInfo]", "devid=" + devid, "version=" + version, "os=" + os_name,
             "product=" + product]
    if unittype is not None:
        lines.append("unittype=" + unittype)
    lines.append("cid=" + cid)
    return "\r\n".join(lines) + "\r\n"


def gps_ini(entries):
    out = ["; device settings", "[General]", "Language=en", "[Directorios]"]
    out += ["%s=%s" % (k, v) for k, v in entries]
    return "\r\n".join(out) + "\r\n"


def _first_gen_gps(card_unit, base="OrvaneData"):
    def both(sub):
        items = ["\\%s\\%s\\%s" % (INTERNAL_UNIT, base, sub)]
        if card_unit:
            items.append("\\%s\\%s\\%s" % (card_unit, base, sub))
        return ";".join(items)
    return gps_ini([("Maps2", both("Maps")), ("Data", both("Data")),
                    ("SpeedCams", "\\%s\\%s\\Radars" % (INTERNAL_UNIT, base))])


def _mkdirs(root, *subs):
    for s in subs:
        os.makedirs(os.path.join(root, s), exist_ok=True)


def make_volume(root, name, size=None):
    """Create the volume folder; mount a tmpfs of `size` on it when asked."""
    if not name or "/" in name or name in (".", ".."):
        raise DeviceError("bad volume name %r" % name)
    path = os.path.join(root, name)
    os.makedirs(path, exist_ok=True)
    if size:
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%s,mode=0755" % size, "tmpfs", path],
                       check=True, timeout=30)
    return path


def build_device(root, want, home=None):
    """Build one device (and its card) from its description; returns the volume paths."""
    kind = want["kind"]
    version = str(want.get("version", "2.5"))
    devid = str(want.get("devid", "DEV-%s-0001" % kind.upper()))
    made = []
    if kind in DESKTOP:
        return build_desktop(home or os.path.join(root, "..", "home"), want)
    if kind == "plain":
        made.append(make_volume(root, want.get("volume", "USBDISK"), want.get("size")))
        return made
    if kind == "card-only":
        product = want.get("product", "Stride")
        unit = want.get("unittype", "SD CARD")
        vol = make_volume(root, want.get("volume", "LOOSECARD"), want.get("size"))
        _write(os.path.join(vol, "OrvaneData", "RegInfo.ini"),
               reginfo(devid, version, want.get("os", "Windows"), product, unit, want.get("cid", "77")))
        _mkdirs(vol, "OrvaneData/Maps", "OrvaneData/Data")
        return [vol]
    if kind not in KINDS:
        raise DeviceError("unknown kind %r (known: %s)" % (kind, ", ".join(all_kinds())))
    product, layout, card_unit = KINDS[kind]
    product = want.get("product", product)
    volname = want.get("volume", kind.upper().replace("-", "_")[:11])
    vol = make_volume(root, volname, want.get("size"))
    made.append(vol)
    card = want.get("card")
    unit = want.get("unittype", INTERNAL_UNIT)
    if layout == "internal":
        _write(os.path.join(vol, "Orvane", "RegInfo.ini"),
               reginfo(devid, version, want.get("os", "Windows"), product, unit))
        _write(os.path.join(vol, "Orvane", "gps.ini"), _first_gen_gps(card_unit if card else None))
        _mkdirs(vol, "OrvaneData/Maps", "OrvaneData/Data", "OrvaneData/Radars", "OrvaneData/AppData/temp")
    elif layout == "summit":
        _write(os.path.join(vol, "OrvaneData", "AppData", "RegInfo.ini"),
               reginfo(devid, version, want.get("os", "Windows"), product, unit))
        _write(os.path.join(vol, "OrvaneData", "AppData", "gps.ini"), _first_gen_gps(None))
        _mkdirs(vol, "OrvaneData/Maps", "OrvaneData/Data", "OrvaneData/Radars")
    elif layout == "android":
        _write(os.path.join(vol, "OrvaneData", "RegInfo.ini"),
               reginfo(devid, version, "Android", product, want.get("unittype", "STORAGE")))
        _write(os.path.join(vol, "OrvaneData", "gps.ini"), gps_ini([("Maps2", ""), ("Data", "")]))
        _mkdirs(vol, "OrvaneData/maps", "OrvaneData/Data", "OrvaneData/radars")
    elif layout == "linux":
        _write(os.path.join(vol, "AppData", "RegInfo.ini"),
               reginfo(devid, version, want.get("os", "Linux"), product, unit))
        entries = [("Maps2", "\\%s\\Maps" % INTERNAL_UNIT), ("Data", "\\%s\\Data" % INTERNAL_UNIT),
                   ("SpeedCams", "\\%s\\Radars" % INTERNAL_UNIT)]
        _write(os.path.join(vol, "AppData", "gps.ini"), gps_ini(entries))
        _mkdirs(vol, "Maps", "Data", "Radars")
    elif layout == "recover":
        temp = os.path.join(vol, "OrvaneData", "AppData", "temp")
        _write(os.path.join(temp, "RegInfo.ini"),
               reginfo(devid, version, want.get("os", "Windows"), product, unit))
        _write(os.path.join(temp, "gps.ini"), _first_gen_gps(None))
        _write(os.path.join(temp, "lang", "en.txt"), "English\r\n")
        _mkdirs(vol, "OrvaneData/Maps", "OrvaneData/Data", "OrvaneData/Radars")
    if card:
        if not card_unit:
            raise DeviceError("kind %r takes no memory card" % kind)
        cvol = make_volume(root, card, want.get("card_size"))
        made.append(cvol)
        cunit = want.get("card_unittype", card_unit)
        text = reginfo(devid, version, want.get("os", "Linux" if layout == "linux" else "Windows"),
                       product, cunit, want.get("cid", "1234"))
        if layout == "linux":
            _write(os.path.join(cvol, "RegInfo.ini"), text)
            _mkdirs(cvol, "Data", "Radars")
        else:
            _write(os.path.join(cvol, "OrvaneData", "RegInfo.ini"), text)
            _mkdirs(cvol, "OrvaneData/Maps", "OrvaneData/Data")
    for rel, text in want.get("files", {}).items():
        target = os.path.realpath(os.path.join(vol, rel.lstrip("/")))
        if not target.startswith(os.path.realpath(vol) + os.sep):
            raise DeviceError("file outside the volume: %r" % rel)
        _write(target, text)
    return made


def build_desktop(home, want):
    """A desktop install: <home>/appdata/<N>/{gps.ini,RegInfo.ini} and the
    application folder <home>/apps/<N>.app."""
    kind = want["kind"]
    product, os_name = DESKTOP[kind]
    name = want.get("name", {"meadow": "QuillmapMeadow", "meadow-mac": "Quillmap",
                             "cirrus": "QuillmapCirrus", "orvane-pc": "Orvane"}[kind])
    appdata = os.path.join(home, "appdata", name)
    docs = os.path.join(home, "Documents", "Quillmap")
    _write(os.path.join(appdata, "RegInfo.ini"),
           reginfo(str(want.get("devid", "PC-0001")), str(want.get("version", "8.1")), os_name,
                   want.get("product", product), None))
    _write(os.path.join(appdata, "gps.ini"), gps_ini([
        ("Maps2", os.path.join(docs, "Maps")), ("Vuelos", os.path.join(docs, "Tracks")),
        ("Balizas", os.path.join(docs, "Waypoints")), ("Rutas", os.path.join(docs, "Routes"))]))
    for sub in ("Maps", "Tracks", "Waypoints", "Routes"):
        os.makedirs(os.path.join(docs, sub), exist_ok=True)
    app = os.path.join(home, "apps", name + ".app")
    os.makedirs(app, exist_ok=True)
    return [appdata, app]


def build_all(root, devices_wanted, home=None):
    os.makedirs(root, exist_ok=True)
    made = []
    for want in devices_wanted:
        made += build_device(root, want, home=home or os.path.join(os.path.dirname(root), "home"))
    return made


def all_kinds():
    return sorted(KINDS) + sorted(DESKTOP) + list(EXTRA_KINDS)
