#!/usr/bin/python3
"""An HTTP server on 127.0.0.1 for the HTTP client's tests; prints its port once listening.

/bytes/N answers N bytes; /endless streams without end; /silent never answers; /trickle/N sends
200 bytes, then N more pieces of 200 bytes 0.3 s apart, of a 2600-byte body (/trickle/N/stall
then keeps the connection open); /moved redirects to /there. Anything else echoes the request:
its line, its headers and its body.
"""

import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class Handler(BaseHTTPRequestHandler):
    def answer(self, status, body=b'', headers=None):
        self.send_response(status)
        for name, value in (headers if headers is not None else {'Content-Length': len(body)}).items():
            self.send_header(name, str(value))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        parts = self.path.split('/')
        try:
            if parts[1] == 'bytes':
                self.answer(200, b'f' * int(parts[2]))
            elif parts[1] == 'endless':
                self.answer(200, headers={})
                while True:
                    self.wfile.write(b'x' * 65536)
            elif parts[1] == 'silent':
                self.rfile.read()
            elif parts[1] == 'trickle':
                self.answer(200, b'a' * 200, {'Content-Length': 2600})
                for _ in range(int(parts[2])):
                    time.sleep(0.3)
                    self.wfile.write(b'b' * 200)
                if parts[-1] == 'stall':
                    self.rfile.read()
            elif parts[1] == 'moved':
                self.answer(302, b'see there', {'Location': '/there', 'Content-Length': 9})
            else:
                self.echo()
        except OSError:
            pass  # the client hung up

    def echo(self):
        body = self.rfile.read(int(self.headers.get('Content-Length', 0)))
        self.answer(200, (self.requestline + '\n' + str(self.headers)).encode() + body)

    do_POST = echo
    do_DELETE = echo

    def log_message(self, *arguments):
        pass


server = ThreadingHTTPServer(('127.0.0.1', 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
