# A fake OAuth 1.0 service provider for the sharing tests. It verifies every
# signature with its own code (oauth_check: hmac, hashlib, its own parameter
# normalisation after RFC 5849), hands out tokens, and serves a few plain endpoints for the simple
# request. Prints its port on the first line, then serves until killed.
import threading, urllib.parse

from fake_server import QuietHandler, serve
from oauth_check import verify

CONSUMER = ("testkey", "test secret")  # key, secret
TOKENS = {"reqtok": "reqsecret"}  # token -> secret
CALLBACK = "http://callback.example/cb"
LOG = []
LOCK = threading.Lock()

class Handler(QuietHandler):
    def reply(self, status, text, ctype="text/plain"):
        self.send(status, text, {"Content-Type": ctype, "X-Test": "yes"})

    def do_GET(self):
        self.handle_any(b"")

    def do_POST(self):
        self.handle_any(self.read_body())

    def do_PUT(self):
        self.handle_any(self.read_body())

    def handle_any(self, body):
        path = urllib.parse.urlsplit(self.path).path
        with LOCK:
            LOG.append("%s %s" % (self.command, path))
        if path == "/echo":
            return self.reply(200, "%s %d %s" % (self.command, len(body), body.decode("utf-8", "replace")))
        if path == "/created":
            return self.reply(201, "made")
        if path == "/nocontent":
            return self.send(204, "")
        if path == "/empty":
            return self.reply(200, "")
        if path.startswith("/code/"):  # answers with the status the path names
            return self.reply(int(path[len("/code/"):]), "code")
        if path == "/log":
            with LOCK:
                return self.reply(200, "\n".join(LOG))
        if path == "/authorize":
            q = dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(self.path).query))
            page = '<html><body><a href="%s?oauth_token=%s&oauth_verifier=4711">Allow</a></body></html>' % (
                CALLBACK, q.get("oauth_token", ""))
            return self.reply(200, page, "text/html")
        auth, why = verify(self.headers.get("Authorization"), self.command, self.path, self.headers["Host"],
                           self.headers.get("Content-Type", ""), body, CONSUMER, TOKENS)
        if auth is None:
            with LOCK:
                LOG.append("refused " + why)
            return self.reply(401, "oauth_problem=" + why.replace(" ", "_"))
        if path == "/request_token":
            if auth.get("oauth_token"):
                return self.reply(401, "oauth_problem=token_not_expected")
            return self.reply(200, "oauth_token=reqtok&oauth_token_secret=reqsecret&oauth_callback_confirmed=true")
        if path == "/access_token":
            if auth.get("oauth_token") == "acc+tok":  # a refresh, signed with the access token
                return self.reply(200, "oauth_token=acc%2Btok&oauth_token_secret=acc%20secret&oauth_session_handle=h2")
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

serve(Handler)
