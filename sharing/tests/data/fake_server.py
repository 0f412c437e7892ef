# What every fake service has in common: a quiet HTTP/1.1 handler that reads
# a request body and sends a reply with its length, and a threaded server on
# 127.0.0.1 that prints its port on the first line, then serves until killed.
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

MAX_BODY = 64 << 20  # far more than any share the tests send

class BadRequest(Exception):
    pass

class QuietHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def read_body(self):
        """The request's body, whole. A length that is no count of bytes (or
        past MAX_BODY), or a body that ends before it, is answered 400 and the
        connection closed: the fake neither waits for bytes that never come
        nor takes a cut body for the request."""
        text = self.headers.get("Content-Length", "0") or "0"
        if not (text.isascii() and text.isdigit()) or int(text) > MAX_BODY:
            self.refuse("bad Content-Length")
        n = int(text)
        data = self.rfile.read(n) if n else b""
        if len(data) != n:
            self.refuse("body cut short")
        return data

    def refuse(self, why):
        self.close_connection = True
        self.send(400, why)
        raise BadRequest(why)

    def handle_one_request(self):
        try:
            super().handle_one_request()
        except BadRequest:
            self.close_connection = True

    def send(self, status, body, headers=None):
        """Sends `body` (text or bytes) with `headers`, then its length."""
        data = body.encode() if isinstance(body, str) else body
        self.send_response(status)
        for k, v in (headers or {}).items():
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

def serve(handler):
    server = ThreadingHTTPServer(("127.0.0.1", 0), handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()
