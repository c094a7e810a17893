#!/usr/bin/env python3
"""A throwaway RFC 3161 time-stamp authority for the signing tests.

    timestamp_authority.py FOLDER SECONDS

Makes a self-signed time-stamping certificate and its key in FOLDER
(certificate.pem: the CA file that verifies its time stamps), then answers
time-stamp queries over HTTP on 127.0.0.1, on a port the system picks,
which it writes to FOLDER/url once it listens. Each POSTed query is
answered by `openssl ts -reply`. It stops by itself after SECONDS, or when
killed.
"""
import http.server
import os
import subprocess
import sys
import tempfile
import threading

folder, seconds = sys.argv[1], float(sys.argv[2])
os.makedirs(folder, exist_ok=True)
key = os.path.join(folder, "key.pem")
certificate = os.path.join(folder, "certificate.pem")
config = os.path.join(folder, "tsa.cnf")
serial = os.path.join(folder, "serial")

# A time-stamping certificate must carry the critical timeStamping extended
# key usage, and must be valid when a signature is verified: years, not days.
subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-sha256", "-days", "3650", "-nodes",
                "-subj", "/CN=QUORVEL test time-stamp authority",
                "-addext", "extendedKeyUsage=critical,timeStamping",
                "-addext", "keyUsage=critical,digitalSignature",
                "-keyout", key, "-out", certificate], check=True, capture_output=True)
with open(config, "w") as f:
    f.write(f"""[tsa]
default_tsa = tsa_config
[tsa_config]
serial = {serial}
signer_cert = {certificate}
signer_key = {key}
signer_digest = sha256
default_policy = 1.3.6.1.4.1.4146.2.3
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
""")
with open(serial, "w") as f:
    f.write("01\n")


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        with tempfile.TemporaryDirectory() as work:
            query_file = os.path.join(work, "query.tsq")
            reply_file = os.path.join(work, "reply.tsr")
            with open(query_file, "wb") as f:
                f.write(query)
            result = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", query_file,
                                     "-out", reply_file], capture_output=True, text=True)
            if result.returncode != 0:
                self.send_error(500, result.stderr.strip().replace("\n", " "))
                return
            with open(reply_file, "rb") as f:
                reply = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, format, *args):
        sys.stderr.write("timestamp_authority: " + format % args + "\n")


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
threading.Timer(seconds, server.shutdown).start()
url = os.path.join(folder, "url")
with open(url + ".new", "w") as f:
    f.write(f"http://127.0.0.1:{server.server_port}/\n")
os.rename(url + ".new", url)
server.serve_forever()
