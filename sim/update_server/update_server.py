#!/usr/bin/env python3
"""The rig's update server: serves a release folder made by gm-release over HTTPS.

  update_server.py --addr 127.0.0.9 --port 0 --cert server.pem --key server.key --root DIR
                   [--log FILE] [--faults FILE] [--ready FILE]

  GET /v1/updates?product=gainmesh&platform=macos   answers DIR/manifest.json
  GET /files/<name>                                 answers DIR/files/<name>
  anything else                                     404

--port 0 takes a free port; once the server listens, the port is written to the --ready file.
Every request is logged as one line "<method>\t<path?query>\t<user agent>\t<status>" (to --log,
else stderr); a failed TLS handshake as "! TLS <reason>".

The --faults file (JSON, read again for every request; missing means no faults) maps a path
without its query to what to answer instead:
  {"status": 404}                      that status with an empty body
  {"redirect": "http://..."}           302 to that location
  {"body": "/path/to/file"}            200 with that file's bytes in place of the real ones
Python 3 standard library only.
"""

import argparse
import http.server
import json
import os
import re
import ssl
import sys
import threading
import urllib.parse

FILE_NAME = re.compile(r"^[A-Za-z0-9_][A-Za-z0-9._-]*$")


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, args):
        self.args = args
        self.log_lock = threading.Lock()
        self.log_file = open(args.log, "a", encoding="utf-8") if args.log else sys.stderr
        self.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.tls.load_cert_chain(args.cert, args.key)
        super().__init__((args.addr, args.port), Handler)

    def finish_request(self, request, client_address):
        # The handshake runs on the request's own thread, so a client that stalls or refuses
        # the certificate holds up nobody else.
        request.settimeout(30)
        try:
            conn = self.tls.wrap_socket(request, server_side=True)
        except OSError as e:
            self.log(f"! TLS {e}")
            return
        try:
            self.RequestHandlerClass(conn, client_address, self)
        finally:
            conn.close()

    def log(self, line):
        with self.log_lock:
            self.log_file.write(line + "\n")
            self.log_file.flush()

    def fault(self, path):
        try:
            with open(self.args.faults, encoding="utf-8") as f:
                return json.load(f).get(path)
        except (TypeError, OSError, ValueError, AttributeError):
            return None


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = "GainmeshRig/1"

    def log_message(self, format, *args):
        pass  # every request is logged once, with its status, by answer()

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        fault = self.server.fault(url.path)
        if fault:
            self.answer_fault(fault)
        else:
            self.answer_file(url)

    def answer_file(self, url):
        root = self.server.args.root
        query = urllib.parse.parse_qs(url.query)
        path = None
        if url.path == "/v1/updates":
            if query.get("product") == ["gainmesh"] and query.get("platform") == ["macos"]:
                path = os.path.join(root, "manifest.json")
        elif url.path.startswith("/files/"):
            name = url.path[len("/files/"):]
            if FILE_NAME.match(name):
                path = os.path.join(root, "files", name)
        try:
            with open(path, "rb") as f:
                body = f.read()
        except (TypeError, OSError):
            return self.answer(404)
        self.answer(200, body)

    def answer_fault(self, fault):
        if "redirect" in fault:
            return self.answer(302, headers={"Location": fault["redirect"]})
        if "body" in fault:
            with open(fault["body"], "rb") as f:
                return self.answer(200, f.read())
        self.answer(int(fault.get("status", 500)))

    def answer(self, status, body=b"", headers=None):
        agent = self.headers.get("User-Agent", "")
        self.server.log(f"{self.command}\t{self.path}\t{agent}\t{status}")
        self.send_response(status)
        for name, value in (headers or {}).items():
            self.send_header(name, value)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def main():
    p = argparse.ArgumentParser(description="The rig's HTTPS update server.")
    p.add_argument("--addr", required=True, help="a loopback address to listen on")
    p.add_argument("--port", type=int, default=0, help="0 takes a free port")
    p.add_argument("--cert", required=True, help="the server's certificate (PEM)")
    p.add_argument("--key", required=True, help="the server's private key (PEM)")
    p.add_argument("--root", required=True, help="the release folder gm-release built")
    p.add_argument("--log", help="append the request log here instead of stderr")
    p.add_argument("--faults", help="a JSON file of answers that replace the real ones")
    p.add_argument("--ready", help="write the listening port here once the server listens")
    args = p.parse_args()
    if not args.addr.startswith("127."):
        p.error("the update server listens only on a loopback address (127.x.y.z)")
    server = Server(args)
    if args.ready:
        tmp = args.ready + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            f.write(str(server.server_address[1]))
        os.replace(tmp, args.ready)
    server.serve_forever()


if __name__ == "__main__":
    main()
