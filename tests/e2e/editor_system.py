#!/usr/bin/env python3
"""The full PDF editor in the real program under Xvfb: a PDF handed over from the page opens in an
editor window that cannot reach the network, what the page script saves there is checked with qpdf,
and an update (the built-in editor packed as release 9.9.0) installs, starts and rolls back."""

import base64
import hashlib
import io
import json
import os
import shutil
import socket
import sys
import tempfile
import subprocess
import threading
import zipfile
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from harness import (AppRun, Checks, DONE_MARK, check_page_results, check_sanitizers, read, runner_arguments, script_with_checks,
                     start_xvfb, stop_xvfb)

HERE = os.path.dirname(os.path.abspath(__file__))
ZIP_NAME = "pdfcraft-web-9.9.0.zip"


def release_zip(site):
    """The site folder wrapped in one top-level folder, as a release zip."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        for folder, _, files in os.walk(site):
            for name in files:
                path = os.path.join(folder, name)
                inside = os.path.relpath(path, site)
                if inside == "VERSION.txt":
                    continue
                archive.write(path, "pdfcraft-web-9.9.0/" + inside)
        archive.writestr("pdfcraft-web-9.9.0/VERSION.txt", "PdfCraft web 9.9.0\n")
    return buffer.getvalue()


class ReleaseServer:
    """The editor's release listing, its zip and checksum list, plus an outside address the editor
    must never reach; every request is recorded."""

    def __init__(self, site):
        self.zip = release_zip(site)
        self.requests = []
        self.connections = 0
        server = self

        class Handler(BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_GET(self):
                server.requests.append({"path": self.path})
                body = server.routes.get(self.path)
                self.send_response(200 if body is not None else 404)
                self.send_header("Content-Length", str(len(body or b"")))
                self.end_headers()
                self.wfile.write(body or b"")

        self.http = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.http.serve_forever, daemon=True).start()
        self.base = "http://127.0.0.1:%d" % self.http.server_address[1]
        # A bare listener standing for an https host: it counts the connections anyone opens.
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        threading.Thread(target=self._accept, daemon=True).start()
        self.tls_base = "https://127.0.0.1:%d" % self.listener.getsockname()[1]
        assets = [("pdfcraft-desktop-9.9.0.dmg", "desktop.dmg"), (ZIP_NAME, ZIP_NAME), ("SHA256SUMS.txt", "SHA256SUMS.txt")]
        latest = {"tag_name": "v9.9.0", "published_at": "2026-12-01T09:00:00Z", "html_url": self.base + "/pdfcraft/releases/v9.9.0",
                  "assets": [{"name": name, "browser_download_url": self.base + "/pdfcraft/" + path} for name, path in assets]}
        self.routes = {"/pdfcraft/releases/latest": json.dumps(latest).encode(), "/pdfcraft/" + ZIP_NAME: self.zip,
                       "/pdfcraft/SHA256SUMS.txt": ("%s  %s\n" % (hashlib.sha256(self.zip).hexdigest(), ZIP_NAME)).encode()}

    def _accept(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            self.connections += 1
            connection.close()

    def close(self):
        self.http.shutdown()
        self.http.server_close()
        self.listener.close()


def main():
    args = runner_arguments(timeout=180)
    build = os.path.dirname(os.path.dirname(os.path.abspath(args.app)))
    work = tempfile.mkdtemp(prefix="quillpost-editor-")
    data_dir = os.path.join(work, "data")
    os.makedirs(data_dir)
    check = Checks()
    server = ReleaseServer(os.path.join(build, "share", "quillpost", "pdfcraft"))
    snapshot = os.path.join(args.output, "editor-window.png")
    if os.path.exists(snapshot):
        os.remove(snapshot)
    # A one-page letter, a form with every kind of field and an XFA form, made by the unit tests'
    # fixture maker with the site's pdf-lib.
    subprocess.run(["node", os.path.join(os.path.dirname(HERE), "pdfcraft", "fixtures.mjs"), os.path.join(build, "pdfcraft-work"), work],
                   check=True, timeout=60)
    settings = {"outside": server.base + "/outside", "outsideTls": server.tls_base, "snapshot": snapshot}
    settings.update({name: base64.b64encode(read(os.path.join(work, name + ".pdf"))).decode() for name in ("onePage", "form", "xfa")})
    script = script_with_checks(work, "editor_test.js", args.script, settings=settings)
    xvfb, display = start_xvfb()
    run = None
    try:
        run = AppRun(args.app, script, data_dir, os.path.join(work, "state"), display, {
            "QUILLPOST_PDFCRAFT_RELEASES_URL": server.base + "/pdfcraft/releases/latest",
            "XDG_CACHE_HOME": os.path.join(work, "cache"), "HOME": os.path.join(work, "home")})
        done = run.wait_for(DONE_MARK, args.timeout) is not None
        run.finish(os.path.join(args.output, "app.log"))

        check(done, "the page script ran to its end")
        check(os.path.exists(snapshot) and os.path.getsize(snapshot) > 20000, "the picture of the editor window is in " + snapshot)
        check_page_results(check, run.results, 32)
        signed_path = (run.results.get("the signed copy with the scan is saved", {}).get("detail") or {}).get("signedCopy")
        qpdf = lambda *arguments: subprocess.run(["qpdf", *arguments, signed_path], capture_output=True, text=True, timeout=60)
        pages = []
        if signed_path and os.path.exists(signed_path):
            checked = qpdf("--check")
            check(checked.returncode == 0, "qpdf finds nothing wrong in the signed copy (%s)" % checked.stdout[-300:])
            pages = json.loads(qpdf("--json", "--json-key=pages").stdout)["pages"]
        images = [[(i["width"], i["height"], i["filter"]) for i in page["images"]] for page in pages]
        # Page 1 holds its signature; page 2 the scan, re-encoded in the window to fit 1 MB but not
        # below 110 dpi along the Letter page's 11 inches.
        check(len(pages) == 2 and len(images[0]) == 1 and len(images[1]) == 1 and images[1][0][2] == ["/DCTDecode"]
              and 1200 <= images[1][0][0] <= 2000, "the signed copy has the signature on page 1 and the smaller scan as page 2 (%s)" % images)
        check_sanitizers(check, run.log)
        paths = [r["path"] for r in server.requests]
        check(not any(p.startswith("/outside") for p in paths) and server.connections == 0 and "/pdfcraft/desktop.dmg" not in paths,
              "nothing from the editor window reached the network and only the web release was downloaded (%s, %d connections)"
              % (paths, server.connections))
    finally:
        if run and run.alive():
            run.stop()
        server.close()
        stop_xvfb(xvfb)
        shutil.rmtree(work, ignore_errors=True)

    return check.outcome("editor", args.output)


if __name__ == "__main__":
    sys.exit(main())
