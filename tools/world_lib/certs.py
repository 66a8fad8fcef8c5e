"""Test certificate authority and server certificates, made with the openssl command."""

import os
import subprocess

CA_NAME = "Downloader Test CA"


def _run(args, cwd):
    subprocess.run(["openssl"] + args, cwd=cwd, check=True, timeout=60,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def _key(name, cwd):
    _run(["genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:prime256v1",
          "-out", name], cwd)


def _leaf(cwd, stem, cn, san):
    _key(stem + ".key", cwd)
    _run(["req", "-new", "-key", stem + ".key", "-subj", "/CN=" + cn, "-out", stem + ".csr"], cwd)
    ext = stem + ".ext"
    with open(os.path.join(cwd, ext), "w") as f:
        f.write("basicConstraints=critical,CA:FALSE\n"
                "keyUsage=critical,digitalSignature,keyEncipherment\n"
                "extendedKeyUsage=serverAuth\n"
                "subjectAltName=%s\n" % san)
    _run(["x509", "-req", "-in", stem + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
          "-CAcreateserial", "-days", "825", "-sha256", "-extfile", ext, "-out", stem + ".pem"], cwd)
    os.remove(os.path.join(cwd, stem + ".csr"))
    os.remove(os.path.join(cwd, ext))


def make_certs(certdir):
    """Make (or reuse) ca.pem, server.pem/.key (127.0.0.1, localhost) and
    wronghost.pem/.key (only "wrong.invalid").  Returns a dict of paths."""
    os.makedirs(certdir, exist_ok=True)
    paths = {n: os.path.join(certdir, n) for n in
             ("ca.pem", "ca.key", "server.pem", "server.key", "wronghost.pem", "wronghost.key")}
    if all(os.path.exists(p) for p in paths.values()):
        return paths
    _key("ca.key", certdir)
    _run(["req", "-new", "-x509", "-key", "ca.key", "-subj", "/CN=" + CA_NAME, "-days", "3650",
          "-sha256", "-addext", "basicConstraints=critical,CA:TRUE",
          "-addext", "keyUsage=critical,keyCertSign,cRLSign", "-out", "ca.pem"], certdir)
    _leaf(certdir, "server", "127.0.0.1", "IP:127.0.0.1,DNS:localhost")
    _leaf(certdir, "wronghost", "wrong.invalid", "DNS:wrong.invalid")
    for n in ("ca.key", "server.key", "wronghost.key"):
        os.chmod(paths[n], 0o600)
    return paths
