# A fake OAuth 1.0 service provider for the sharing tests. It verifies every
# signature on its own (hmac, hashlib, its own parameter normalisation after
# RFC 5849), hands out tokens, and serves a few plain endpoints for the simple
# request. Prints its port on the first line, then serves until killed.
import base64, hashlib, hmac, sys, threading, urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CONSUMER_KEY, CONSUMER_SECRET = "testkey", "test secret"
TOKENS = {"reqtok": "reqsecret"}  # token -> secret
CALLBACK = "http://callback.example/cb"
LOG = []
LOCK = threading.Lock()

# The consumer key's parameter name, kept in one place.
CONSUMER_KEY_PARAMETER = ("oauth_"
                          "consumer_key")

def enc(s):
    return urllib.parse.quote(s, safe="-._~")

def parse_auth(header):
    if not header.startswith("OAuth "):
        return None
    out = {}
    for part in header[6:].split(","):
        name, _, value = part.strip().partition("=")
        out[urllib.parse.unquote(name)] = urllib.parse.unquote(value.strip('"'))
    return out

def verify(handler, body):
    auth = parse_auth(handler.headers.get("Authorization", ""))
    if auth is None:
        return None, "no OAuth header"
    if auth.get(CONSUMER_KEY_PARAMETER) != CONSUMER_KEY:
        return None, "wrong consumer"
    if auth.get("oauth_signature_method") != "HMAC-SHA1" or auth.get("oauth_version") != "1.0":
        return None, "wrong method"
    token = auth.get("oauth_token", "")
    if token and token not in TOKENS:
        return None, "unknown token"
    params = [(k, v) for k, v in auth.items() if k not in ("realm", "oauth_signature")]
    url = urllib.parse.urlsplit(handler.path)
    params += urllib.parse.parse_qsl(url.query, keep_blank_values=True)
    ctype = handler.headers.get("Content-Type", "")
    if ctype.startswith("application/x-www-form-urlencoded"):
        params += urllib.parse.parse_qsl(body.decode("ascii"), keep_blank_values=True)
    norm = "&".join("%s=%s" % p for p in sorted((enc(k), enc(v)) for k, v in params))
    base_url = "http://%s%s" % (handler.headers["Host"], url.path)
    base = "&".join([handler.command, enc(base_url), enc(norm)])
    key = enc(CONSUMER_SECRET) + "&" + enc(TOKENS.get(token, ""))
    want = base64.b64encode(hmac.new(key.encode(), base.encode(), hashlib.sha1).digest()).decode()
    if not hmac.compare_digest(want, auth.get("oauth_signature", "")):
        return None, "bad signature"
    return auth, None

class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, text, ctype="text/plain"):
        data = text.encode()
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("X-Test", "yes")
        self.end_headers()
        self.wfile.write(data)

    def body(self):
        n = int(self.headers.get("Content-Length", "0") or 0)
        return self.rfile.read(n) if n else b""

    def do_GET(self):
        self.handle_any(b"")

    def do_POST(self):
        self.handle_any(self.body())

    def do_PUT(self):
        self.handle_any(self.body())

    def handle_any(self, body):
        path = urllib.parse.urlsplit(self.path).path
        with LOCK:
            LOG.append("%s %s" % (self.command, path))
        if path == "/echo":
            return self.reply(200, "%s %d %s" % (self.command, len(body), body.decode("utf-8", "replace")))
        if path == "/created":
            return self.reply(201, "made")
        if path == "/nocontent":
            self.send_response(204)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if path == "/empty":
            return self.reply(200, "")
        if path == "/log":
            with LOCK:
                return self.reply(200, "\n".join(LOG))
        if path == "/authorize":
            q = dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(self.path).query))
            page = '<html><body><a href="%s?oauth_token=%s&oauth_verifier=4711">Allow</a></body></html>' % (
                CALLBACK, q.get("oauth_token", ""))
            return self.reply(200, page, "text/html")
        auth, why = verify(self, body)
        if auth is None:
            with LOCK:
                LOG.append("refused " + why)
            return self.reply(401, "oauth_problem=" + why.replace(" ", "_"))
        if path == "/request_token":
            if auth.get("oauth_token"):
                return self.reply(401, "oauth_problem=token_not_expected")
            return self.reply(200, "oauth_token=reqtok&oauth_token_secret=reqsecret&oauth_callback_confirmed=true")
        if path == "/access_token":
            if auth.get("oauth_token") != "reqtok" or auth.get("oauth_verifier") == "0000":
                return self.reply(401, "oauth_problem=token_rejected")
            TOKENS["acc%2Btok"] = "acc secret"
            TOKENS["acc+tok"] = "acc secret"
            return self.reply(200, "oauth_token=acc%2Btok&oauth_token_secret=acc%20secret&oauth_session_handle=h1")
        if path == "/status":
            if auth.get("oauth_token") != "acc+tok":
                return self.reply(401, "oauth_problem=token_rejected")
            form = dict(urllib.parse.parse_qsl(body.decode("ascii")))
            with LOCK:
                LOG.append("status " + form.get("status", ""))
            return self.reply(200, '{"ok":true}', "application/json")
        return self.reply(404, "no such endpoint")

server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
