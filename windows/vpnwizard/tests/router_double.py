#!/usr/bin/env python3
"""A router's web server for the wizard's tests.

HTTPS on one loopback address with Basic authorization and a self-signed certificate made at start,
serving the router pages the wizard reads (in the layouts its readers expect) from a small router
state, taking the tunnel and connect forms on /setup.cgi, recording every request, and answering
chosen paths with faults. One process is one router.

Start: router_double.py --bind 127.0.0.2 --ready FILE --log FILE [options]; it binds a free port,
writes "PORT PID" to the ready file and serves until killed or until --lifetime seconds have passed.

Faults (--fault PATH=KIND, PATH=KIND*N for the first N requests of that path only):
  status:NNN   answer with that status and a short body
  size:N       a 200 page of exactly N bytes
  damaged      the first half of the page
  close        close the connection without a reply
  empty        a 200 reply with an empty body
  file:NAME    the bytes of that file
  delay:S      the usual answer, S seconds late
"""

import argparse
import base64
import os
import shutil
import signal
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

TUNNEL_FORM_FIELDS = 81
CONNECT_FORM_FIELDS = 80
MAX_TUNNELS = 5


class Router:
    def __init__(self, args):
        self.user = args.user
        self.password = args.password
        self.wan = args.wan
        self.lan = args.lan
        self.mask = args.mask
        self.tunnels = []  # [name, remote gateway]
        for spec in args.tunnel:
            name, _, remote = spec.partition("=")
            self.tunnels.append([name, remote])
        self.connect_mode = args.connect
        self.connect_failures = args.connect_failures
        self.faults = {}
        for spec in args.fault:
            path, _, kind = spec.partition("=")
            kind, _, count = kind.partition("*")
            self.faults[path] = [kind, int(count) if count else -1]
        self.lock = threading.Lock()
        self.log_path = args.log

    def take_fault(self, path):
        with self.lock:
            fault = self.faults.get(path)
            if not fault or fault[1] == 0:
                return None
            if fault[1] > 0:
                fault[1] -= 1
            return fault[0]

    def record(self, method, path, headers, body):
        with self.lock, open(self.log_path, "ab") as log:
            log.write(b"REQUEST %s %s\n" % (method.encode(), path.encode("latin-1")))
            for name, value in headers:
                log.write(b"H %s: %s\n" % (name.encode("latin-1"), value.encode("latin-1")))
            log.write(b"BODY %d\n" % len(body))
            log.write(body)
            log.write(b"\nEND\n")

    # Pages, written to the layouts the wizard's readers look for.
    def vpn_main(self):
        options = "".join('<option value="%d">%s</option>\n' % (i, t[0]) for i, t in enumerate(self.tunnels))
        if len(self.tunnels) < MAX_TUNNELS:
            options += '<option value="$">--new--</option>\n'
        return ("<html><head><title>VPN</title></head><body>\n"
                '<form name="vpn" method="post" action="setup.cgi">\n'
                "<table><tr><td>Select Tunnel Entry:</td><td><select name=\"ipsec_select\">\n%s"
                "</select></td></tr></table>\n"
                '<input type="hidden" name="c4_wan_ip" value="%s">\n'
                "</form></body></html>\n" % (options, self.wan))

    def setup_lan(self):
        return ("<html><body><table><tr><td>IP Address:</td>"
                '<td><input type="text" name="lan_ip" value="%s"></td></tr></table>\n'
                '<input type="hidden" name="c4_lan_ip_" value="%s">\n</body></html>\n' % (self.lan, self.lan))

    def local_network(self):
        return ("<html><body><table>\n<tr><td>IP Address:</td><td>%s</td></tr>\n"
                "<tr><td>Subnet Mask:</td><td>%s</td></tr>\n</table></body></html>\n" % (self.lan, self.mask))

    def vpn_summary(self):
        rows = "".join(
            '<tr align="center"><td>%d</td><td>%s</td><td>Yes</td><td>%s</td><td>-</td><td>3DES/SHA1</td>'
            "<td>%s</td><td>Down</td></tr>\n" % (i + 1, t[0], self.lan, t[1])
            for i, t in enumerate(self.tunnels))
        return ('<html><body><table width="100%%">\n<tr><td><b>Tunnel Status</b>\n'
                '<input type="hidden" name="tunnel_count" value="%d"> %d Tunnel(s) Defined\n'
                '<table border="1">\n<tr><th>No.</th><th>Name</th><th>Remote Gateway</th></tr>\n%s'
                "</table>\n</td></tr>\n</table></body></html>\n" % (len(self.tunnels), len(self.tunnels), rows))

    def connect_reply(self, up):
        state = "Up" if up else "Down"
        if self.connect_mode == "status":
            cells = "".join("<td>Status</td>" for _ in range(7))
            return ("<html><body><table>\n<tr>%s</tr>\n"
                    "<tr><td>Status</td><td>a</td><td>b</td><td><b>%s</b></td></tr>\n"
                    "</table></body></html>\n" % (cells, state))
        return ('<html><body><table>\n<tr id="a7"><td>Name</td><td>x</td></tr>\n'
                '<tr id="a8"><td>Status</td><td>%s</td></tr>\n</table></body></html>\n' % state)

    PAGES = {"/vpn_main.htm": vpn_main, "/Setup_lan.htm": setup_lan,
             "/LocalNetwork.htm": local_network, "/vpn_summary.htm": vpn_summary}

    def page(self, path):
        render = self.PAGES.get(path)
        return render(self).encode() if render else None

    def take_form(self, body):
        """Applies a posted form; returns (status, reply body)."""
        try:
            text = body.decode("ascii")
            fields = urllib.parse.parse_qsl(text, keep_blank_values=True, strict_parsing=True)
        except (UnicodeDecodeError, ValueError):
            return 400, b"bad form"
        values = dict(fields)
        todo = values.get("todo")
        with self.lock:
            if todo == "save":
                if len(fields) != TUNNEL_FORM_FIELDS:
                    return 400, b"unexpected fields"
                name = values.get("tunnelname", "")
                remote = values.get("remote_dns") if values.get("dnsresolve") == "1" else values.get("c4_sg_typesel0_ip")
                if not name or any(t[0] == name for t in self.tunnels) or len(self.tunnels) >= MAX_TUNNELS:
                    return 409, b"tunnel refused"
                self.tunnels.append([name, remote or ""])
                return 200, self.vpn_main().encode()
            if todo == "tunnel_connect":
                if len(fields) != CONNECT_FORM_FIELDS:
                    return 400, b"unexpected fields"
                known = any(t[0] == values.get("tunnelname") for t in self.tunnels)
                up = known and self.connect_failures == 0
                if self.connect_failures > 0:
                    self.connect_failures -= 1
                return 200, self.connect_reply(up).encode()
        return 400, b"unknown form"


def make_handler(router):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def authorized(self):
            token = base64.b64encode(("%s:%s" % (router.user, router.password)).encode()).decode()
            return self.headers.get("Authorization") == "Basic " + token

        def reply(self, status, body, extra=()):
            self.send_response(status)
            for name, value in extra:
                self.send_header(name, value)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def serve(self, method):
            length = int(self.headers.get("Content-Length") or 0)
            body = self.rfile.read(length) if length > 0 else b""
            path = self.path.split("?", 1)[0]
            router.record(method, self.path, self.headers.items(), body)
            if not self.authorized():
                self.reply(401, b"", [("WWW-Authenticate", 'Basic realm="router"')])
                return
            fault = router.take_fault(path)
            if fault is not None and fault.startswith("delay:"):
                time.sleep(float(fault[6:]))
                fault = None
            if fault == "close":
                self.close_connection = True
                return
            if method == "POST" and path == "/setup.cgi" and fault is None:
                status, page = router.take_form(body)
                self.reply(status, page)
                return
            page = router.page(path) if method == "GET" else b"ok"
            if fault is None:
                if page is None:
                    self.reply(404, b"not found")
                else:
                    self.reply(200, page)
            elif fault.startswith("status:"):
                self.reply(int(fault[7:]), b"fault")
            elif fault.startswith("size:"):
                size = int(fault[5:])
                self.reply(200, (page + b"<!--" + b"x" * size)[:size - 3] + b"-->" if size >= 3 else b"x" * size)
            elif fault == "damaged":
                self.reply(200, page[: len(page) // 2])
            elif fault == "empty":
                self.reply(200, b"")
            elif fault.startswith("file:"):
                with open(fault[5:], "rb") as f:
                    self.reply(200, f.read())

        def do_GET(self):
            self.serve("GET")

        def do_POST(self):
            self.serve("POST")

    return Handler


def make_certificate(folder, expired):
    """A self-signed certificate for a name that is not the address served; expired on request."""
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    if not expired:
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "2", "-subj", "/CN=router.invalid"], check=True, capture_output=True)
        return cert, key
    # The openssl command line cannot date a certificate in the past; its library can.
    import datetime
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import rsa
    from cryptography.x509.oid import NameOID
    private = rsa.generate_private_key(public_exponent=65537, key_size=2048)
    name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "router.invalid")])
    now = datetime.datetime.now(datetime.timezone.utc)
    certificate = (x509.CertificateBuilder().subject_name(name).issuer_name(name).public_key(private.public_key())
                   .serial_number(x509.random_serial_number())
                   .not_valid_before(now - datetime.timedelta(days=10))
                   .not_valid_after(now - datetime.timedelta(days=1))
                   .sign(private, hashes.SHA256()))
    with open(cert, "wb") as f:
        f.write(certificate.public_bytes(serialization.Encoding.PEM))
    with open(key, "wb") as f:
        f.write(private.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.TraditionalOpenSSL,
                                      serialization.NoEncryption()))
    return cert, key


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--ready", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--plain", action="store_true", help="plain HTTP instead of HTTPS")
    parser.add_argument("--expired", action="store_true", help="a certificate whose validity has ended")
    parser.add_argument("--user", default="admin")
    parser.add_argument("--password", default="password")
    parser.add_argument("--wan", default="127.0.0.2")
    parser.add_argument("--lan", default="192.168.1.1")
    parser.add_argument("--mask", default="255.255.255.0")
    parser.add_argument("--tunnel", action="append", default=[], help="NAME=REMOTE, an existing tunnel")
    parser.add_argument("--connect", choices=["a8", "status"], default="a8", help="layout of the connect reply")
    parser.add_argument("--connect-failures", type=int, default=0, help="connect posts answered Down first")
    parser.add_argument("--fault", action="append", default=[])
    parser.add_argument("--lifetime", type=float, default=300.0)
    args = parser.parse_args()

    router = Router(args)
    server = Server((args.bind, args.port), make_handler(router))
    folder = tempfile.mkdtemp(prefix="router-double-")
    try:
        if not args.plain:
            cert, key = make_certificate(folder, args.expired)
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(cert, key)
            server.socket = context.wrap_socket(server.socket, server_side=True)
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
        stopper = threading.Timer(args.lifetime, server.shutdown)
        stopper.daemon = True
        stopper.start()
        ready = args.ready + ".part"
        with open(ready, "w") as f:
            f.write("%d %d\n" % (server.server_address[1], os.getpid()))
        os.replace(ready, args.ready)
        server.serve_forever()
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
