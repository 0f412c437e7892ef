# What every fake service has in common: a quiet HTTP/1.1 handler that reads
# a request body and sends a reply with its length, and a threaded server on
# 127.0.0.1 that prints its port on the first line, then serves until killed.
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

class QuietHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def read_body(self):
        n = int(self.headers.get("Content-Length", "0") or 0)
        return self.rfile.read(n) if n else b""

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
