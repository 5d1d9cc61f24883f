"""Stand-ins on 127.0.0.1 for the servers outside the program: the maker's signed IRCC feed and
the practice's relay server. The feed is signed with a key made for this run."""

import base64
import json
import os
import ssl
import subprocess
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

RELAY_KEY = "e2e-practice-key"
FEED = {
    "updated": "2026-12-01T09:00:00Z",
    "items": [
        {"title": "Biometrics appointments now bookable online", "date": "2026-11-28", "summary": "Clients book through the portal."},
        {"title": "New proof-of-funds amounts for study permits", "date": "2026-12-01", "summary": "Amounts rise on 1 January."},
    ],
}


def signed_feed(folder):
    """Returns (feed bytes, signature text, public key in Base64), signed with a fresh Ed25519 key."""
    key = os.path.join(folder, "feed-key.pem")
    feed_file = os.path.join(folder, "feed.json")
    subprocess.run(["openssl", "genpkey", "-algorithm", "ed25519", "-out", key], check=True, capture_output=True)
    feed = json.dumps(FEED).encode()
    with open(feed_file, "wb") as f:
        f.write(feed)
    signature = subprocess.run(["openssl", "pkeyutl", "-sign", "-rawin", "-inkey", key, "-in", feed_file],
                               check=True, capture_output=True).stdout
    public = subprocess.run(["openssl", "pkey", "-in", key, "-pubout", "-outform", "DER"], check=True, capture_output=True).stdout[-32:]
    return feed, base64.b64encode(signature).decode() + "\r\n", base64.b64encode(public).decode()


TLS_HOST = "practice.workers.dev"
UNTRUSTED_HOST = "untrusted.workers.dev"


def openssl(*arguments):
    subprocess.run(["openssl", *arguments], check=True, capture_output=True)


def test_certificates(folder):
    """A certificate authority of this run, a certificate it signs for TLS_HOST, and a self-signed
    one for UNTRUSTED_HOST that nothing trusts."""
    path = lambda name: os.path.join(folder, name)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Quillpost test authority",
            "-keyout", path("ca.key"), "-out", path("ca.pem"))
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + TLS_HOST, "-keyout", path("host.key"), "-out", path("host.csr"))
    with open(path("host.ext"), "w") as f:
        f.write("subjectAltName=DNS:%s\n" % TLS_HOST)
    openssl("x509", "-req", "-in", path("host.csr"), "-CA", path("ca.pem"), "-CAkey", path("ca.key"), "-CAcreateserial",
            "-days", "2", "-extfile", path("host.ext"), "-out", path("host.pem"))
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=" + UNTRUSTED_HOST,
            "-addext", "subjectAltName=DNS:" + UNTRUSTED_HOST, "-keyout", path("untrusted.key"), "-out", path("untrusted.pem"))
    return path


class LoopbackServers:
    def __init__(self, folder):
        self.feed, self.signature, self.public_key = signed_feed(folder)
        self.requests = []
        servers = self

        class Handler(BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def answer(self, status, body=b"", content_type="application/json"):
                self.send_response(status)
                self.send_header("Content-Type", content_type)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def handle_request(self, method):
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length) if length else b""
                servers.requests.append({"method": method, "path": self.path, "headers": dict(self.headers), "body": body})
                if self.path == "/ircc/feed.json":
                    return self.answer(200, servers.feed)
                if self.path == "/ircc/feed.json.sig":
                    return self.answer(200, servers.signature.encode(), "text/plain")
                if self.headers.get("x-qp-key") != RELAY_KEY:
                    return self.answer(401, b'{"error":"unknown practice key"}')
                if method == "GET" and self.path == "/api/me":
                    return self.answer(200, b'{"firm":"Maple Leaf Immigration"}')
                return self.answer(404, b'{"error":"no such thing"}')

            def do_GET(self):
                self.handle_request("GET")

        def serve(certificate=None, key=None):
            server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
            if certificate:
                context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
                context.load_cert_chain(certificate, key)
                server.socket = context.wrap_socket(server.socket, server_side=True)
            threading.Thread(target=server.serve_forever, daemon=True).start()
            return server

        path = test_certificates(folder)
        self.ca_file = path("ca.pem")
        self.servers = [serve(), serve(path("host.pem"), path("host.key")), serve(path("untrusted.pem"), path("untrusted.key"))]
        self.port, self.tls_port, self.untrusted_port = (server.server_address[1] for server in self.servers)

    @property
    def base(self):
        return "http://127.0.0.1:%d" % self.port

    @property
    def tls_base(self):
        return "https://%s:%d" % (TLS_HOST, self.tls_port)

    @property
    def untrusted_base(self):
        return "https://%s:%d" % (UNTRUSTED_HOST, self.untrusted_port)

    def environment(self):
        return {
            "QUILLPOST_TEST_FEED_URL": self.base + "/ircc/feed.json",
            "QUILLPOST_TEST_FEED_KEY": self.public_key,
            "QUILLPOST_TEST_CA_FILE": self.ca_file,
            "QUILLPOST_TEST_RESOLVE": "%s:%d:127.0.0.1,%s:%d:127.0.0.1" % (TLS_HOST, self.tls_port, UNTRUSTED_HOST, self.untrusted_port),
        }

    def close(self):
        for server in self.servers:
            server.shutdown()
            server.server_close()
