"""Code signing in the tests: leaves issued under the test CA that the prefix
trusts (tests/e2e/pki.py keeps its key, owner only), files signed with them by
osslsigncode, and what tools/trustprobe (tests/hardening) says about files.
The configuration must name openssl, osslsigncode and trustprobe (the
hardening tests' configuration does).
"""
import http.server
import os
import shutil
import subprocess
import threading

import harness

CODE_SIGNING = """\
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""
SERVER_ONLY = CODE_SIGNING.replace("codeSigning", "serverAuth")
TIME_STAMPING = """\
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""


def run(argv):
    r = subprocess.run(argv, capture_output=True, text=True, timeout=60)
    if r.returncode != 0:
        raise AssertionError("%s failed:\n%s%s" % (" ".join(argv), r.stdout, r.stderr))
    return r.stdout


class Pki:
    """Code-signing leaves and signed files, in a folder of their own."""

    def __init__(self, folder):
        c = harness.config()
        if not c.osslsigncode:
            raise AssertionError("osslsigncode is needed to sign test files (scripts/install-deps.sh)")
        self.folder = folder
        self.openssl = c.openssl
        self.signcode = c.osslsigncode
        self.ca_pem = os.path.join(c.pki, "ca.pem")
        self.ca_key = os.path.join(c.pki, "ca.key")
        if not os.path.isfile(self.ca_key):
            raise AssertionError("the test CA's key %s is missing (tests/e2e/pki.py keeps it)" % self.ca_key)

    def path(self, name):
        return os.path.join(self.folder, name)

    def leaf(self, name, cn, ext=CODE_SIGNING, issuer=None):
        """A leaf under the test CA, or under the leaf `issuer` of this folder."""
        key, csr, pem, extfile = (self.path(name + s) for s in (".key", ".csr", ".pem", ".ext"))
        with open(extfile, "w") as f:
            f.write(ext)
        run([self.openssl, "req", "-newkey", "rsa:2048", "-nodes", "-sha256", "-keyout", key,
             "-out", csr, "-subj", "/CN=" + cn])
        ca_pem, ca_key, above = self.ca_pem, self.ca_key, self.ca_pem
        if issuer:
            ca_pem, ca_key = self.path(issuer + ".pem"), self.path(issuer + ".key")
            above = self.path(issuer + "-chain.pem")
        run([self.openssl, "x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key,
             "-set_serial", str(int.from_bytes(os.urandom(8), "big")), "-days", "30", "-sha256",
             "-extfile", extfile, "-out", pem])
        with open(self.path(name + "-chain.pem"), "w") as chain:
            chain.write(open(pem).read() + open(above).read())
        return name

    def self_signed(self, name, cn):
        run([self.openssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256",
             "-keyout", self.path(name + ".key"), "-out", self.path(name + ".pem"), "-days", "30",
             "-subj", "/CN=" + cn, "-addext", "extendedKeyUsage=codeSigning"])
        shutil.copy(self.path(name + ".pem"), self.path(name + "-chain.pem"))
        return name

    def pkcs12(self, signer, password):
        """The leaf `signer` with its key and chain as a PKCS#12 file, and a
        file holding its password: (p12 path, password file path)."""
        p12, secret = self.path(signer + ".p12"), self.path(signer + ".password")
        with open(secret, "w") as f:
            f.write(password + "\n")
        run([self.openssl, "pkcs12", "-export", "-inkey", self.path(signer + ".key"),
             "-in", self.path(signer + ".pem"), "-certfile", self.ca_pem, "-passout", "file:" + secret,
             "-out", p12])
        return p12, secret

    def sign(self, signer, unsigned, out):
        if os.path.exists(out):
            os.remove(out)
        run([self.signcode, "sign", "-certs", self.path(signer + "-chain.pem"),
             "-key", self.path(signer + ".key"), "-h", "sha256", "-n", "Quillet",
             "-in", unsigned, "-out", out])
        return out


def trust_probe(signer, files):
    """tools/trustprobe over `files` ({name: path}) once, printed:
    {name: {wvt (int), signer, chain, verdict}}, where verdict is the
    program's own check against the expected `signer`."""
    names = sorted(files)
    r = harness.run_wine(harness.config().exe("qdh_trustprobe"),
                         [signer] + [harness.winpath(files[n]) for n in names], timeout=60)
    print("\ntrustprobe (WinVerifyTrust, WINTRUST_ACTION_GENERIC_VERIFY_V2, no UI):")
    print(r.out)
    if r.rc != 0 or len(r.lines) != len(names):
        raise AssertionError("trustprobe: %r" % (r,))
    out = {}
    for name, line in zip(names, r.lines):
        fields = dict(f.split("=", 1) for f in line.split("\t")[1:] if "=" in f)
        fields["wvt"] = int(fields["wvt"], 16)
        out[name] = fields
    return out


class TimeStampServer:
    """An RFC 3161 time-stamp server on loopback (openssl ts -reply), with a
    time-stamping leaf of the test CA; `url` while it runs. Each request is
    answered within the reply's own time limit; stop() ends it."""

    CONFIG = """\
[tsa]
default_tsa = test_tsa
[test_tsa]
serial = {folder}/tsa.serial
crypto_device = builtin
signer_cert = {folder}/tsa.pem
certs = {ca}
signer_key = {folder}/tsa.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.4146.2.3
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""

    def __init__(self, pki):
        pki.leaf("tsa", "Quillet Test Time-Stamp Authority", TIME_STAMPING)
        config = pki.path("tsa.cnf")
        with open(config, "w") as f:
            f.write(self.CONFIG.format(folder=pki.folder, ca=pki.ca_pem))
        with open(pki.path("tsa.serial"), "w") as f:
            f.write("01\n")
        self.requests = 0
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                r = subprocess.run([pki.openssl, "ts", "-reply", "-config", config, "-queryfile", "/dev/stdin",
                                    "-out", "/dev/stdout"], input=query, capture_output=True, timeout=30)
                outer.requests += 1
                self.send_response(200 if r.returncode == 0 else 500)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(r.stdout)))
                self.end_headers()
                self.wfile.write(r.stdout)

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/" % self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()
