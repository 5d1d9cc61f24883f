#!/usr/bin/env python3
"""The packages and the program's own updates, for real.

--mode deb: builds the Debian package with CPack, checks it with lintian (no errors) and the
AppStream metainfo with appstreamcli, installs it on this machine (as root), runs the program's own
self-test against the installed /usr/bin/quillpost, removes the package, and checks that the
user's data outlived both.

--mode update: builds the relocatable tarball with CPack, unpacks it as a user would, and runs it
in the updater's test mode against a feed on this machine: a release signed by someone else
changes nothing, a release whose program doesn't start is rolled back, and a good one is installed
after a safety copy, started, and kept once its page has shown."""

import argparse
import base64
import functools
import hashlib
import io
import json
import os
import shutil
import signal
import subprocess
import sys
import tarfile
import tempfile
import threading
import time
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer

from harness import Checks, app_environment, quiet, start_xvfb, stop_xvfb, wait_until

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))


def cpack(build, generator, output):
    result = quiet(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-G", generator, "-B", output], timeout=None)
    if result.returncode != 0:
        raise RuntimeError("cpack -G %s failed:\n%s" % (generator, result.stdout))
    suffix = ".deb" if generator == "DEB" else ".tar.gz"
    return next(os.path.join(output, n) for n in os.listdir(output) if n.endswith(suffix))


def deb_mode(args, check, work):
    package = cpack(args.build, "DEB", os.path.join(work, "packages"))
    lint = quiet(["lintian", "--suppress-tags", "duplicate-font-file", package])
    errors = [line for line in lint.stdout.splitlines() if line.startswith("E:")]
    check(shutil.which("lintian") is not None and not errors, "lintian reports no errors" + "".join("\n  " + e for e in errors))
    listing = quiet(["dpkg-deb", "--contents", package]).stdout
    for path in ("./usr/bin/quillpost", "./usr/share/quillpost/app/index.html", "./usr/share/quillpost/pdfcraft/index.html",
                 "./usr/share/applications/org.quillpost.Quillpost.desktop", "./usr/share/metainfo/org.quillpost.Quillpost.metainfo.xml",
                 "./usr/share/icons/hicolor/scalable/apps/org.quillpost.Quillpost.svg", "./usr/share/doc/quillpost/copyright"):
        check(path in listing, "the package holds " + path)
    extracted = os.path.join(work, "contents")
    quiet(["dpkg-deb", "-x", package, extracted])
    metainfo = os.path.join(extracted, "usr/share/metainfo/org.quillpost.Quillpost.metainfo.xml")
    valid = quiet(["appstreamcli", "validate", "--no-net", metainfo])
    check(valid.returncode == 0, "appstreamcli accepts the metainfo: " + valid.stdout.strip().splitlines()[-1] if valid.stdout.strip() else "")
    desktop = os.path.join(extracted, "usr/share/applications/org.quillpost.Quillpost.desktop")
    if shutil.which("desktop-file-validate"):
        result = quiet(["desktop-file-validate", desktop])
        check(result.returncode == 0, "desktop-file-validate accepts the .desktop file " + result.stdout.strip())

    if os.geteuid() != 0 or os.path.exists("/usr/bin/quillpost"):
        print("installing the package needs root and a machine without Quillpost installed; the rest is skipped")
        return
    # Someone's data from before the package was installed must outlive installing and removing it.
    home = os.path.join(work, "home")
    data = os.path.join(home, ".local", "share", "Quillpost")
    os.makedirs(data)
    with open(os.path.join(data, "data.json"), "w") as f:
        f.write('{"clients":[{"id":"c1","name":"Keep Me"}]}')
    installed = quiet(["dpkg", "-i", package])
    check(installed.returncode == 0, "dpkg installs the package" + ("" if installed.returncode == 0 else "\n" + installed.stdout))
    try:
        selftest = subprocess.run([sys.executable, os.path.join(HERE, "selftest_system.py"), "--app", "/usr/bin/quillpost",
                                   "--node-modules", os.path.join(args.build, "pdfcraft-work", "node_modules"),
                                   "--output", os.path.join(args.output, "installed-package")])
        check(selftest.returncode == 0, "the installed program's own self-test passes every check (QUILLPOST_SELFTEST)")
        check_run = quiet(["/usr/bin/quillpost", "--self-check"])
        check(check_run.returncode == 0, "the installed program finds all its files: " + check_run.stdout.strip())
    finally:
        removed = quiet(["dpkg", "--purge", "quillpost"])
        check(removed.returncode == 0 and not os.path.exists("/usr/bin/quillpost") and not os.path.exists("/usr/share/quillpost"),
              "removing the package takes its files away")
    with open(os.path.join(data, "data.json")) as f:
        check("Keep Me" in f.read(), "the user's data is untouched by installing and removing the package")


# ---------------------------------------------------------------------------------------------

def ed25519_key(folder, name):
    key = os.path.join(folder, name + ".pem")
    quiet(["openssl", "genpkey", "-algorithm", "ed25519", "-out", key], check=True)
    public = subprocess.run(["openssl", "pkey", "-in", key, "-pubout", "-outform", "DER"], check=True, capture_output=True).stdout[-32:]
    return key, base64.b64encode(public).decode()


def sign(key, path):
    return base64.b64encode(subprocess.run(["openssl", "pkeyutl", "-sign", "-rawin", "-inkey", key, "-in", path],
                                           check=True, capture_output=True).stdout).decode()


def release(tarball, folder, name, program):
    """The release tarball with bin/quillpost replaced by `program`, the real one moved to
    quillpost-real, and its install manifest naming version 0.2.0 and the files added."""
    out = os.path.join(folder, name)
    with tarfile.open(tarball) as source, tarfile.open(out, "w:gz") as target:
        def add(name, data, mode=0o644):
            info = tarfile.TarInfo(name)
            info.size, info.mode = len(data), mode
            target.addfile(info, io.BytesIO(data))
        for member in source.getmembers():
            data = source.extractfile(member) if member.isfile() else None
            if member.name.endswith("/share/quillpost/install-manifest"):
                lines = data.read().decode().splitlines()
                lines[1] = "version 0.2.0"
                add(member.name, ("\n".join(lines + ["bin/quillpost-real", "share/quillpost/RELEASE-0.2.0"]) + "\n").encode())
            elif member.name.endswith("/bin/quillpost"):
                add(member.name + "-real", data.read(), 0o755)
                add(member.name, program.encode(), 0o755)
            else:
                target.addfile(member, data)
        add(source.getmembers()[0].name.split("/")[0] + "/share/quillpost/RELEASE-0.2.0", b"")
    return out


def appcast(url, signature, length, version):
    return ('<?xml version="1.0"?><rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">'
            '<channel><title>Quillpost</title><item><title>Quillpost %s</title><sparkle:version>%s</sparkle:version>'
            '<sparkle:shortVersionString>%s</sparkle:shortVersionString>'
            '<enclosure url="%s" length="%d" type="application/gzip" sparkle:edSignature="%s"/></item></channel></rss>'
            % (version, version, version, url, length, signature)).encode()


class Feed:
    """The maker's feed and release on this machine, served from a folder of its own."""

    def __init__(self, folder):
        self.folder = folder
        os.makedirs(folder)

        class Handler(SimpleHTTPRequestHandler):
            def log_message(self, *args):
                pass

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Handler, directory=folder))
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.base = "http://127.0.0.1:%d" % self.server.server_address[1]

    def offer(self, archive, signature, version):
        shutil.copyfile(archive, os.path.join(self.folder, "quillpost-0.2.0.tar.gz"))
        with open(os.path.join(self.folder, "appcast.xml"), "wb") as f:
            f.write(appcast(self.base + "/quillpost-0.2.0.tar.gz", signature, os.path.getsize(archive), version))


def tree_digest(prefix):
    digest = hashlib.sha256()
    for folder, _, files in sorted(os.walk(prefix)):
        for name in sorted(files):
            digest.update(os.path.relpath(os.path.join(folder, name), prefix).encode())
    with open(os.path.join(prefix, "bin", "quillpost"), "rb") as f:
        digest.update(f.read())
    return digest.hexdigest()


def unpack(tarball, apps):
    """Unpacks the tarball as a user would, into apps/quillpost."""
    os.makedirs(apps)
    with tarfile.open(tarball) as archive:
        top = archive.getmembers()[0].name.split("/")[0]
        archive.extractall(apps)
    prefix = os.path.join(apps, "quillpost")
    os.rename(os.path.join(apps, top), prefix)
    return prefix


def update_mode(args, check, work):
    tarball = cpack(args.build, "TGZ", os.path.join(work, "packages"))
    apps = os.path.join(work, "apps")
    prefix = unpack(tarball, apps)

    manifest = os.path.join(prefix, "share", "quillpost", "install-manifest")
    lines = open(manifest).read().splitlines() if os.path.exists(manifest) else []
    check(lines[:1] == ["Quillpost install manifest 1"] and "bin/quillpost" in lines and "share/quillpost/app/index.html" in lines
          and "share/quillpost/pdfcraft/index.html" in lines, "the tarball carries its install manifest (%d lines)" % len(lines))
    version = lines[1].split(" ", 1)[1] if len(lines) > 1 else "?"
    # Without a display: --version answers before anything of the toolkit starts.
    bare = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    answered = quiet([os.path.join(prefix, "bin", "quillpost"), "--version"], env=bare, timeout=30)
    check(answered.returncode == 0 and answered.stdout.strip() == "Quillpost " + version,
          "quillpost --version says \"%s\" without a display" % answered.stdout.strip())

    key, public = ed25519_key(work, "maker")
    stranger, _ = ed25519_key(work, "stranger")
    started_mark = os.path.join(work, "started-0.2.0")
    good = release(tarball, work, "good.tar.gz",
                   '#!/bin/sh\n[ "$1" = --self-check ] || echo $$ > "%s"\nunset QUILLPOST_UPDATE_TEST\nexec "$0-real" "$@"\n' % started_mark)
    broken = release(tarball, work, "broken.tar.gz", "#!/bin/sh\nexit 1\n")

    feed = Feed(os.path.join(work, "feed"))
    xvfb, display = start_xvfb()
    bus = quiet(["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"]).stdout.split()
    processes = []
    try:
        def run(name, archive, signer):
            feed.offer(archive, sign(signer, archive), "0.2.0")
            data_dir = os.path.join(work, name, "data")
            os.makedirs(data_dir)
            with open(os.path.join(data_dir, "data.json"), "w") as f:
                f.write('{"clients":[{"id":"c1","name":"Dana Update"}]}')
            log = os.path.join(work, name, "update.log")
            script = os.path.join(work, name, "page.js")
            with open(script, "w") as f:
                f.write("console.log('page up');\n")
            env = app_environment(data_dir, os.path.join(work, name, "state"), display, script, {
                "DBUS_SESSION_BUS_ADDRESS": bus[0], "QUILLPOST_UPDATE_TEST": log, "QUILLPOST_FEED_URL": feed.base + "/appcast.xml",
                "QUILLPOST_TEST_UPDATE_KEY": public, "XDG_DATA_HOME": os.path.join(work, name, "xdg")})
            process = subprocess.Popen([os.path.join(prefix, "bin", "quillpost")], env=env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL, start_new_session=True)
            processes.append(process)
            return process, log, data_dir

        def text(path):
            return open(path).read() if os.path.exists(path) else ""

        def end(process):
            # A sanitizer build can take a while to unwind; the update checks don't depend on it.
            process.terminate()
            try:
                process.wait(30)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

        # The updater's unit tests hold each refusal; here a stranger's signature and a release that
        # doesn't start show that the real copy and the folder beside it stay as they were.
        for name, archive, signer, said in (("stranger", good, stranger, ("error", "signature")), ("broken", broken, key, ("rolled back",))):
            before = (tree_digest(prefix), sorted(os.listdir(apps)))
            process, log, _ = run(name, archive, signer)
            check(wait_until(lambda: all(t in text(log) for t in said), 60),
                  "%s: the updater refuses, saying %s: %s" % (name, said, text(log).strip().replace("\n", " | ")))
            end(process)
            check((tree_digest(prefix), sorted(os.listdir(apps))) == before,
                  "%s: the installed copy and the folders beside it are as they were (%s)" % (name, os.listdir(apps)))
        check(not os.path.exists(started_mark), "no refused release started")

        process, log, data_dir = run("good", good, key)
        installed = wait_until(lambda: "installed 0.2.0" in text(log), 60)
        lines = [line.split(" ", 1)[1] for line in text(log).splitlines() if " " in line]
        check(installed and lines[:4] == ["found 0.2.0", "downloaded 0.2.0, installing", "safety copy ok", "installed 0.2.0"],
              "the updater finds, downloads, copies the data and installs, in that order: %s" % lines)
        check(process.wait(30) == 0, "the old version quits by itself after installing")
        check(os.path.exists(os.path.join(prefix, "share", "quillpost", "RELEASE-0.2.0")), "the new version is in the program's folder")
        check(wait_until(lambda: os.path.exists(started_mark), 30), "the new version starts")
        snapshots = os.path.join(data_dir, "snapshots")
        copies = [n for n in os.listdir(snapshots) if n.startswith("before-update-0.1.0-to-0.2.0-")] if os.path.isdir(snapshots) else []
        check(len(copies) == 1 and "Dana Update" in text(os.path.join(snapshots, copies[0])), "the safety copy holds the data (%s)" % copies)
        check(wait_until(lambda: not os.path.exists(os.path.join(apps, ".quillpost-previous")), 60),
              "once the new version has shown its page, the previous one is removed")
        if os.path.exists(started_mark):
            try:
                os.kill(int(text(started_mark).strip()), signal.SIGTERM)
            except (ValueError, ProcessLookupError):
                pass
    finally:
        for process in processes:
            if process.poll() is None:
                process.kill()
        if len(bus) > 1:
            try:
                os.kill(int(bus[1]), signal.SIGTERM)
            except (ValueError, ProcessLookupError):
                pass
        feed.server.shutdown()
        stop_xvfb(xvfb)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", choices=["deb", "update"], required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()
    os.makedirs(args.output, exist_ok=True)
    work = tempfile.mkdtemp(prefix="quillpost-package-")
    check = Checks()
    try:
        (deb_mode if args.mode == "deb" else update_mode)(args, check, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return check.outcome("package")


if __name__ == "__main__":
    sys.exit(main())
