#!/usr/bin/python3
"""A time-stamping service (RFC 3161) on this machine's loopback, for the signing
test: each POSTed query is answered with the reply that `openssl ts -reply` makes
with the certificate and key in FOLDER (tsa.pem, tsa.key, tsa.cnf). It writes the
port it listens on to FOLDER/port and stops by itself after SECONDS.

Usage: tsa.py FOLDER SECONDS
"""
import http.server
import os
import subprocess
import sys
import tempfile
import threading


class TimeStamper(http.server.BaseHTTPRequestHandler):
    folder = "."

    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.TemporaryDirectory() as scratch:
            with open(os.path.join(scratch, "query.tsq"), "wb") as f:
                f.write(query)
            made = subprocess.run(
                ["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile", os.path.join(scratch, "query.tsq"),
                 "-signer", "tsa.pem", "-inkey", "tsa.key", "-out", os.path.join(scratch, "reply.tsr")],
                cwd=self.folder, capture_output=True)
            if made.returncode != 0:
                self.send_error(500, made.stderr.decode(errors="replace")[:200])
                return
            with open(os.path.join(scratch, "reply.tsr"), "rb") as f:
                reply = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    TimeStamper.folder = sys.argv[1]
    server = http.server.HTTPServer(("127.0.0.1", 0), TimeStamper)
    with open(os.path.join(sys.argv[1], "port.new"), "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(os.path.join(sys.argv[1], "port.new"), os.path.join(sys.argv[1], "port"))
    threading.Timer(float(sys.argv[2]), server.shutdown).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
