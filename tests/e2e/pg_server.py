"""A PostgreSQL 15 server of the test's own: initdb in a temporary folder, the server on a free
loopback port with its unix socket in that folder (TLS off: the program needs it only beyond
loopback), a practice database with a password user, stopping and starting it again, and psql."""

import os
import pwd
import shutil
import socket
import subprocess
import tempfile

PG_BIN = "/usr/lib/postgresql/15/bin"


def _tool(name):
    found = os.path.join(PG_BIN, name)
    return found if os.path.exists(found) else shutil.which(name)


class PgServer:
    """One server. As root the server runs as the postgres account (PostgreSQL refuses root)."""

    def __init__(self, user="desk", password="desk-secret", database="practice"):
        self.user, self.password, self.database = user, password, database
        self.folder = tempfile.mkdtemp(prefix="quillpost-pg-")
        self.data = os.path.join(self.folder, "cluster")
        self.log = os.path.join(self.folder, "server.log")
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self._as = []
        if os.geteuid() == 0:
            account = pwd.getpwnam("postgres")
            os.chown(self.folder, account.pw_uid, account.pw_gid)
            self._as = ["setpriv", "--reuid=postgres", "--regid=postgres", "--init-groups", "--"]
        if not _tool("initdb"):
            raise RuntimeError("PostgreSQL 15 isn't installed (Debian: apt install postgresql)")

    def _run(self, *command, check=True, timeout=60, input_text=None):
        return subprocess.run(self._as + list(command), capture_output=True, text=True, timeout=timeout,
                              check=check, input=input_text, cwd=self.folder)

    def setup(self):
        password_file = os.path.join(self.folder, "superuser-password")
        with open(password_file, "w") as f:
            f.write("unused-superuser\n")
        if self._as:
            os.chown(password_file, pwd.getpwnam("postgres").pw_uid, -1)
        self._run(_tool("initdb"), "-D", self.data, "-U", "postgres", "--auth-local=trust",
                  "--auth-host=scram-sha-256", "--pwfile=" + password_file, "-E", "UTF8", "--locale=C.UTF-8")
        with open(os.path.join(self.data, "postgresql.conf"), "a") as f:
            f.write("\nlisten_addresses = '127.0.0.1'\nport = %d\nunix_socket_directories = '%s'\n"
                    "ssl = off\nfsync = on\nmax_connections = 60\nshared_buffers = 32MB\n" % (self.port, self.folder))
        self.start()
        self.psql("CREATE ROLE %s LOGIN PASSWORD '%s';" % (self.user, self.password))
        self.psql("CREATE DATABASE %s OWNER %s;" % (self.database, self.user))
        return self

    def start(self):
        self._run(_tool("pg_ctl"), "-D", self.data, "-l", self.log, "-w", "-t", "30", "start")

    def stop(self, mode="fast"):
        self._run(_tool("pg_ctl"), "-D", self.data, "-m", mode, "-w", "-t", "30", "stop", check=False)

    def psql(self, sql, database=None):
        """Runs SQL as the superuser over the socket; answers its output, unaligned, tuples only."""
        done = self._run(_tool("psql"), "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h", self.folder, "-p", str(self.port),
                         "-U", "postgres", "-d", database or "postgres", "-c", sql, check=False)
        if done.returncode != 0:
            raise RuntimeError("psql failed: %s" % done.stderr.strip())
        return done.stdout.strip()

    def server_settings(self):
        """What the program's sharing form takes."""
        return {"host": "127.0.0.1", "port": self.port, "database": self.database, "user": self.user, "password": self.password}

    def close(self):
        self.stop("immediate")
        shutil.rmtree(self.folder, ignore_errors=True)
