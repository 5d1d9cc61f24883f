"""Stand-ins on 127.0.0.1 for the servers outside the program: the maker's signed IRCC feed and
the practice's relay server, plain, behind a certificate of this run's own authority, and behind
one nothing trusts."""

import json
import os
import ssl
import subprocess
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from harness import ed25519_key, sign, write

RELAY_KEY = "e2e-practice-key"
TLS_HOST = "practice.workers.dev"
UNTRUSTED_HOST = "untrusted.workers.dev"
FEED = {"updated": "2026-12-01T09:00:00Z", "items": [
    {"title": "Biometrics appointments now bookable online", "date": "2026-11-28", "summary": "Clients book through the portal."},
    {"title": "New proof-of-funds amounts for study permits", "date": "2026-12-01", "summary": "Amounts rise on 1 January."}]}


def test_certificates(folder):
    """A certificate authority of this run, a certificate it signs for TLS_HOST, and a self-signed
    one for UNTRUSTED_HOST that nothing trusts."""
    path = lambda name: os.path.join(folder, name)
    openssl = lambda *arguments: subprocess.run(["openssl", *arguments], check=True, capture_output=True)
    for name, subject, extra in (("ca", "Quillpost test authority", []),
                                 ("untrusted", UNTRUSTED_HOST, ["-addext", "subjectAltName=DNS:" + UNTRUSTED_HOST])):
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=" + subject, *extra,
                "-keyout", path(name + ".key"), "-out", path(name + ".pem"))
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + TLS_HOST, "-keyout", path("host.key"), "-out", path("host.csr"))
    write(path("host.ext"), "subjectAltName=DNS:%s\n" % TLS_HOST)
    openssl("x509", "-req", "-in", path("host.csr"), "-CA", path("ca.pem"), "-CAkey", path("ca.key"), "-CAcreateserial",
            "-days", "2", "-extfile", path("host.ext"), "-out", path("host.pem"))
    return path


class LoopbackServers:
    def __init__(self, folder, key=RELAY_KEY):
        feed_key, self.public_key = ed25519_key(folder, "feed-key")
        feed_file = write(os.path.join(folder, "feed.json"), json.dumps(FEED))
        feed, signature = open(feed_file, "rb").read(), (sign(feed_key, feed_file) + "\r\n").encode()
        self.requests = []
        requests = self.requests

        class Handler(BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def answer(self, status, body, content_type="application/json"):
                self.send_response(status)
                self.send_header("Content-Type", content_type)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def do_GET(self):
                requests.append({"path": self.path, "headers": dict(self.headers)})
                if self.path == "/ircc/feed.json":
                    return self.answer(200, feed)
                if self.path == "/ircc/feed.json.sig":
                    return self.answer(200, signature, "text/plain")
                if self.headers.get("x-qp-key") != key:
                    return self.answer(401, b'{"error":"unknown practice key"}')
                if self.path == "/api/me":
                    return self.answer(200, b'{"firm":"Maple Leaf Immigration"}')
                return self.answer(404, b'{"error":"no such thing"}')

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
        self.base = "http://127.0.0.1:%d" % self.port
        self.tls_base = "https://%s:%d" % (TLS_HOST, self.tls_port)
        self.untrusted_base = "https://%s:%d" % (UNTRUSTED_HOST, self.untrusted_port)

    def environment(self):
        resolve = "%s:%d:127.0.0.1,%s:%d:127.0.0.1" % (TLS_HOST, self.tls_port, UNTRUSTED_HOST, self.untrusted_port)
        return {"QUILLPOST_TEST_FEED_URL": self.base + "/ircc/feed.json", "QUILLPOST_TEST_FEED_KEY": self.public_key,
                "QUILLPOST_TEST_CA_FILE": self.ca_file, "QUILLPOST_TEST_RESOLVE": resolve}

    def close(self):
        for server in self.servers:
            server.shutdown()
            server.server_close()
