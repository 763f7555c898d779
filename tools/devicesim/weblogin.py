"""The device's web login over HTTP and HTTPS.

POST "/index?pid=UserLoginProperty&aid=1" with the form "name=<user>&password=<Base64>" logs in;
POST "/index?pid=Header&aid=1" is the logout (the header page). The HTTPS server uses a
self-signed certificate made with openssl at start (for 127.0.0.1, localhost and any --san
names); --cert-out copies it where a client can trust it.

On start the command prints one line "web http=PORT https=PORT cert=PATH" (ports 0 ask the
system for free ones) and serves until SIGTERM or SIGINT. Every request is appended to --log as
one JSON line: method, path, request version, headers and body (latin-1 text of the bytes).
"""

import base64
import http.server
import json
import os
import shutil
import signal
import ssl
import subprocess
import sys
import tempfile
import threading
import urllib.parse

LOGIN_PATH = "/index?pid=UserLoginProperty&aid=1"
LOGOUT_PATH = "/index?pid=Header&aid=1"
MAX_BODY = 64 * 1024


class Device:
    """What the device answers. login_answer: "auto" (302 with a JSESSIONID cookie for the
    right credentials, 200 without a cookie otherwise), "302", "200" or "401"."""

    def __init__(self, user, password, login_answer="auto", logout_answer=501, log_path=None):
        self.user = user
        self.password = password
        self.login_answer = login_answer
        self.logout_answer = logout_answer
        self.log_path = log_path
        self._lock = threading.Lock()
        self._sessions = 0

    def credentials_match(self, body):
        fields = {}
        for pair in body.split(b"&"):
            key, _, value = pair.partition(b"=")
            fields[key] = value
        try:
            password = base64.b64decode(fields.get(b"password", b""), validate=True)
        except ValueError:
            return False
        return (fields.get(b"name") == self.user.encode("utf-8")
                and password == self.password.encode("utf-8"))

    def new_session_id(self):
        with self._lock:
            self._sessions += 1
            return "SIM%08d" % self._sessions

    def record(self, entry):
        if not self.log_path:
            return
        with self._lock, open(self.log_path, "a", encoding="utf-8") as log:
            log.write(json.dumps(entry) + "\n")


def _handler_for(device):
    class Handler(http.server.BaseHTTPRequestHandler):
        server_version = "DeviceSim"

        def log_message(self, format, *args):  # noqa: A002 (the base class's name)
            sys.stderr.write("devicesim web: %s\n" % (format % args))

        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0") or 0)
            if length < 0 or length > MAX_BODY:
                self._answer(413)
                return
            body = self.rfile.read(length)
            device.record({"method": "POST", "path": self.path,
                           "version": self.request_version,
                           "headers": [[k, v] for k, v in self.headers.items()],
                           "body": body.decode("latin-1")})
            if self.path == LOGIN_PATH:
                self._login(body)
            elif self.path == LOGOUT_PATH:
                self._answer(device.logout_answer)
            else:
                self._answer(404)

        def do_GET(self):
            self._answer(404 if self.path != "/" else 200)

        def _login(self, body):
            answer = device.login_answer
            if answer == "auto":
                answer = "302" if device.credentials_match(body) else "200"
            if answer == "302":
                self._answer(302, [("Location", "/index?pid=Top"),
                                   ("Set-Cookie", "JSESSIONID=%s; Path=/; HttpOnly"
                                    % device.new_session_id())])
            else:
                self._answer(int(answer))

        def _answer(self, status, headers=()):
            text = b"<html><body>%d</body></html>" % status
            self.send_response(status)
            for name, value in headers:
                self.send_header(name, value)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(text)))
            self.end_headers()
            self.wfile.write(text)

    return Handler


def make_certificate(folder, names=()):
    """A self-signed certificate and key in folder; returns (cert path, key path)."""
    cert = os.path.join(folder, "device-cert.pem")
    key = os.path.join(folder, "device-key.pem")
    san = ["IP:127.0.0.1", "DNS:localhost"] + [
        ("IP:%s" % n) if n.replace(".", "").isdigit() else ("DNS:%s" % n) for n in names]
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-sha256",
                    "-days", "2", "-subj", "/CN=devicesim", "-keyout", key, "-out", cert,
                    "-addext", "subjectAltName=" + ",".join(san)],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


class WebServers:
    """The HTTP and HTTPS servers of one device, each on its own thread."""

    def __init__(self, device, bind="127.0.0.1", http_port=0, https_port=0, san=()):
        self._folder = tempfile.mkdtemp(prefix="devicesim-web.")
        self.cert, key = make_certificate(self._folder, san)
        handler = _handler_for(device)
        self.http = http.server.ThreadingHTTPServer((bind, http_port), handler)
        self.https = http.server.ThreadingHTTPServer((bind, https_port), handler)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(self.cert, key)
        self.https.socket = context.wrap_socket(self.https.socket, server_side=True)
        self._threads = [threading.Thread(target=s.serve_forever, daemon=True)
                         for s in (self.http, self.https)]
        for thread in self._threads:
            thread.start()

    @property
    def http_port(self):
        return self.http.server_address[1]

    @property
    def https_port(self):
        return self.https.server_address[1]

    def close(self):
        for server in (self.http, self.https):
            server.shutdown()
            server.server_close()
        shutil.rmtree(self._folder, ignore_errors=True)


def _web_command(args):
    device = Device(args.user, args.password, args.login_answer, args.logout_answer, args.log)
    servers = WebServers(device, args.bind, args.http_port, args.https_port, args.san)
    cert = servers.cert
    if args.cert_out:
        shutil.copyfile(servers.cert, args.cert_out)
        cert = args.cert_out
    stop = threading.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: stop.set())
    print("web http=%d https=%d cert=%s" % (servers.http_port, servers.https_port, cert),
          flush=True)
    stop.wait()
    servers.close()
    return 0


def register(subparsers):
    parser = subparsers.add_parser(
        "web", help="serve the web login and logout over HTTP and HTTPS")
    parser.add_argument("--bind", default="127.0.0.1", help="address to listen on")
    parser.add_argument("--http-port", type=int, default=0)
    parser.add_argument("--https-port", type=int, default=0)
    parser.add_argument("--user", default="admin")
    parser.add_argument("--password", default="password")
    parser.add_argument("--login-answer", choices=["auto", "302", "200", "401"], default="auto")
    parser.add_argument("--logout-answer", type=int, default=501)
    parser.add_argument("--san", action="append", default=[],
                        help="another name or IPv4 address for the certificate")
    parser.add_argument("--cert-out", help="copy the certificate (PEM) to this file")
    parser.add_argument("--log", help="append every request as a JSON line to this file")
    parser.set_defaults(handler=_web_command)
