#!/usr/bin/env python3
"""Test certificates for the loopback HTTPS server.

Creates, once per output folder:
  ca.pem / ca.der                     the test CA the Wine prefix trusts
  ca.key                              its key, for tests that issue certificates
                                      of their own under it (code signing)
  server.key / server.pem             leaf for DNS:localhost signed by it
  server-chain.pem                    leaf followed by the CA
  untrusted-ca.pem                    a second CA nobody trusts
  untrusted.key / untrusted.pem       its own leaf for DNS:localhost
  untrusted-chain.pem                 that leaf followed by its CA

Keys are RSA 2048: Wine's TLS stack handles them without surprises.
"""
import argparse
import os
import subprocess
import sys
import tempfile

STAMP = "pki.stamp"
OUTPUTS = ["ca.pem", "ca.der", "ca.key", "server.key", "server.pem", "server-chain.pem",
           "untrusted-ca.pem", "untrusted.key", "untrusted.pem", "untrusted-chain.pem"]

LEAF_EXT = """\
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE, timeout=60)


def make_ca(out, name, cn):
    key = os.path.join(out, name + ".key")
    pem = os.path.join(out, name + ".pem")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256",
            "-keyout", key, "-out", pem, "-days", "3650", "-subj", "/CN=" + cn,
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign",
            "-addext", "subjectKeyIdentifier=hash")
    return key, pem


def make_leaf(out, name, ca_key, ca_pem, work):
    key = os.path.join(out, name + ".key")
    pem = os.path.join(out, name + ".pem")
    csr = os.path.join(work, name + ".csr")
    ext = os.path.join(work, name + ".ext")
    with open(ext, "w") as f:
        f.write(LEAF_EXT)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-sha256", "-keyout", key,
            "-out", csr, "-subj", "/CN=localhost")
    openssl("x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key,
            "-set_serial", str(int.from_bytes(os.urandom(8), "big")),
            "-days", "825", "-sha256", "-extfile", ext, "-out", pem)
    with open(os.path.join(out, name + "-chain.pem"), "w") as chain:
        for part in (pem, ca_pem):
            with open(part) as f:
                chain.write(f.read())
    return key, pem


def complete(out):
    return all(os.path.isfile(os.path.join(out, n)) for n in OUTPUTS + [STAMP])


def generate(out):
    os.makedirs(out, exist_ok=True)
    if complete(out):
        return False
    with tempfile.TemporaryDirectory() as work:
        ca_key, ca_pem = make_ca(out, "ca", "Quillet Downloader Test CA")
        openssl("x509", "-in", ca_pem, "-outform", "DER", "-out", os.path.join(out, "ca.der"))
        make_leaf(out, "server", ca_key, ca_pem, work)
        u_key, u_pem = make_ca(out, "untrusted-ca", "Untrusted Test CA")
        make_leaf(out, "untrusted", u_key, u_pem, work)
    # The untrusted CA's key is of no further use. The test CA's stays (owner
    # only): tests sign installers with leaves of their own under it. It is
    # trusted nowhere but in the throwaway test prefix.
    os.remove(os.path.join(out, "untrusted-ca.key"))
    with open(os.path.join(out, STAMP), "w") as f:
        f.write("ok\n")
    return True


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--out", required=True)
    a = p.parse_args()
    made = generate(a.out)
    print(("created" if made else "kept") + " test certificates in " + a.out)


if __name__ == "__main__":
    sys.exit(main())
