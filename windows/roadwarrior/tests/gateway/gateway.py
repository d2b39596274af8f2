#!/usr/bin/env python3
"""Test VPN gateway for the road-warrior client: HTTPS on 127.0.0.1 with a throw-away self-signed
certificate made here with openssl, basic authorization, pages answered from a per-test script, and every
request recorded.

    gateway.py <dir>

<dir>/script.json maps a page path to a list of answers used in turn (the last one repeats):
    {"user": "alice", "password": "pw1",
     "/StartConnection.htm": [{"status": 200, "body": "version=1\\n...", "delay": 0}]}
A request without the right basic authorization is answered 401. Each request is appended to
<dir>/requests.jsonl as {"path", "query", "user", "password", "status"}. The chosen port is written to
<dir>/port once the server listens; the server ends when <dir>/stop appears or after --lifetime seconds.
"""
import argparse
import base64
import http.server
import json
import os
import pathlib
import ssl
import subprocess
import threading
import time


def make_certificate(folder: pathlib.Path):
    key, cert = folder / "gateway.key", folder / "gateway.crt"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=127.0.0.1", "-keyout", str(key), "-out", str(cert)],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


class Gateway(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    folder: pathlib.Path = None
    lock = threading.Lock()
    served = {}

    def log_message(self, *args):
        pass

    def credentials(self):
        header = self.headers.get("Authorization", "")
        if not header.startswith("Basic "):
            return None, None
        try:
            user, _, password = base64.b64decode(header[6:]).decode("latin-1").partition(":")
        except ValueError:
            return None, None
        return user, password

    def answer_for(self, script, path):
        answers = script.get(path) or [{"status": 404, "body": ""}]
        with self.lock:
            index = self.served.get(path, 0)
            self.served[path] = index + 1
        return answers[min(index, len(answers) - 1)]

    def do_GET(self):
        script = json.loads((self.folder / "script.json").read_text())
        path, _, query = self.path.partition("?")
        user, password = self.credentials()
        if "user" in script and (user, password) != (script["user"], script.get("password", "")):
            answer = {"status": 401, "body": "", "challenge": True}
        else:
            answer = self.answer_for(script, path)
        with self.lock, open(self.folder / "requests.jsonl", "a") as record:
            record.write(json.dumps({"path": path, "query": query, "user": user, "password": password,
                                     "status": answer["status"]}) + "\n")
        time.sleep(answer.get("delay", 0))
        body = answer.get("body", "").encode("latin-1")
        self.send_response(answer["status"])
        if answer.get("challenge"):
            self.send_header("WWW-Authenticate", 'Basic realm="gateway"')
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--lifetime", type=float, default=300)
    args = parser.parse_args()
    folder = pathlib.Path(args.folder)
    # Own output, not the caller's: a test runner waits for every holder of its pipes to finish.
    log = os.open(folder / "gateway.log", os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
    null = os.open(os.devnull, os.O_RDONLY)
    os.dup2(null, 0)
    os.dup2(log, 1)
    os.dup2(log, 2)
    cert, key = make_certificate(folder)
    Gateway.folder = folder
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Gateway)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    # The handshake happens in the request's thread, so a client that stalls in it never holds up the loop.
    server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
    server.timeout = 0.2
    port_file = folder / "port"
    (folder / "port.tmp").write_text(str(server.server_address[1]))
    os.replace(folder / "port.tmp", port_file)
    deadline = time.monotonic() + args.lifetime
    while not (folder / "stop").exists() and time.monotonic() < deadline:
        server.handle_request()
    server.server_close()


if __name__ == "__main__":
    main()
