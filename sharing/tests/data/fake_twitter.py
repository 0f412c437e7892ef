# A fake of the three services the Twitter sharer talks to, on one loopback
# port: the API (OAuth token endpoints, status update, account information,
# follow), the image host (multipart upload authorised by delegated
# credentials) and the link shortener. Every OAuth signature is verified with
# this folder's own code (oauth_check: hmac, hashlib and its own parameter
# normalisation), and multipart bodies are parsed with the email package.
# Prints its port on the first line, then serves until killed.
import email.parser, email.policy, json, threading, urllib.parse

from fake_server import QuietHandler, serve
import oauth_check

CONSUMER = ("Hq3VnTz8LwRb5KpYd2XsMa", "rT6yUw2PzKq9LmNb4VcXs7DfGh1JkQaZe3WoIp5Ru")  # key, secret
TOKENS = {"reqtok": "req secret", "acc-tok": "acc secret"}  # token -> secret (acc-tok: a session from before)
CALLBACK = "http://deckapp.example/"
ACCOUNT = ("deckuser", "pa ss")
LOG = []
LOCK = threading.Lock()

def log(line):
    with LOCK:
        LOG.append(line)

def verify(header, method, url, host, ctype, body):
    """Checks one OAuth header for `method` on `url`; returns (params, error)."""
    return oauth_check.verify(header, method, url, host, ctype, body, CONSUMER, TOKENS)

class Handler(QuietHandler):
    def reply(self, status, text, ctype="text/plain"):
        self.send(status, text, {"Content-Type": ctype})

    def do_GET(self):
        self.handle_any(self.read_body())

    def do_POST(self):
        self.handle_any(self.read_body())

    def signed(self, body):
        auth, why = verify(self.headers.get("Authorization"), self.command, self.path,
                           self.headers["Host"], self.headers.get("Content-Type", ""), body)
        if auth is None:
            log("refused " + why)
        return auth

    def handle_any(self, body):
        parts = urllib.parse.urlsplit(self.path)
        path, query = parts.path, dict(urllib.parse.parse_qsl(parts.query, keep_blank_values=True))
        # What changes something on the service must be posted.
        posts = ("/api/2/upload.xml", "/oauth/request_token", "/oauth/access_token", "/1/statuses/update.json")
        if self.command != "POST" and (path in posts or path.startswith("/1/friendships/create/")):
            log("refused %s %s" % (self.command, path))
            return self.reply(405, "<error>post it</error>")
        if path == "/log":
            with LOCK:
                return self.reply(200, "\n".join(LOG))
        if path == "/oauth/authorize":
            page = '<html><body><p>Let the app post for you?</p><a href="%s?oauth_token=%s">Allow</a></body></html>' % (
                CALLBACK, query.get("oauth_token", ""))
            return self.reply(200, page, "text/html")
        if path == "/v3/shorten":
            log("shorten %s login=%s format=%s" % (query.get("longUrl"), query.get("login"), query.get("format")))
            if "already" in query.get("longUrl", ""):
                return self.reply(200, "ALREADY_A_BITLY_LINK\n")
            if "broken" in query.get("longUrl", ""):
                return self.reply(500, "INVALID_URI\n")
            return self.reply(200, "http://sho.rt/x1\n")
        if path == "/api/2/upload.xml":
            return self.upload(body)
        auth = self.signed(body)
        if auth is None:
            return self.reply(401, json.dumps({"error": "Could not authenticate with OAuth.", "request": path}),
                              "application/json")
        token = auth.get("oauth_token", "")
        if path == "/oauth/request_token":
            if token:
                return self.reply(401, "oauth_problem=token_not_expected")
            return self.reply(200, "oauth_token=reqtok&oauth_token_secret=req%20secret&oauth_callback_confirmed=true")
        if path == "/oauth/access_token":
            form = dict(urllib.parse.parse_qsl(body.decode("ascii"), keep_blank_values=True))
            if "x_auth_mode" in form:
                if token or form.get("x_auth_mode") != "client_auth":
                    return self.reply(400, "bad xAuth request")
                if (form.get("x_auth_username"), form.get("x_auth_password")) != ACCOUNT:
                    return self.reply(401, "Invalid user name or password")
                log("xauth %s" % form["x_auth_username"])
            elif token != "reqtok":
                return self.reply(401, "oauth_problem=token_rejected")
            TOKENS["acc-tok"] = "acc secret"
            return self.reply(200, "oauth_token=acc-tok&oauth_token_secret=acc%20secret&user_id=7&screen_name=deckuser")
        if token != "acc-tok":
            return self.reply(401, json.dumps({"error": "Could not authenticate with OAuth."}), "application/json")
        if path == "/1/statuses/update.json":
            form = dict(urllib.parse.parse_qsl(body.decode("ascii"), keep_blank_values=True))
            status = form.get("status", "")
            log("status " + status)
            if "#nonce" in status:
                return self.reply(401, '{"request":"/1/statuses/update.json","error":"Invalid / used nonce"}',
                                  "application/json")
            if "#dup" in status:
                return self.reply(403, '{"request":"/1/statuses/update.json","error":"Status is a duplicate."}',
                                  "application/json")
            if "#down" in status:
                return self.reply(502, "<html>Over capacity</html>", "text/html")
            return self.reply(200, json.dumps({"id": 1, "text": status}), "application/json")
        if path == "/1/account/verify_credentials.json":
            log("verify_credentials")
            return self.reply(200, json.dumps({
                "screen_name": "deckuser", "url": None, "location": None,
                "status": {"text": "hi", "place": None, "geo": {"coordinates": None}},
                "ids": [1, None]}), "application/json")
        if path.startswith("/1/friendships/create/"):
            log("follow " + path[len("/1/friendships/create/"):])
            return self.reply(200, "{}", "application/json")
        return self.reply(404, "no such endpoint")

    def upload(self, body):
        # The upload is signed for the image host (a multipart body adds no
        # parameters) and carries the user's signed credentials check.
        if self.signed(body) is None:
            return self.reply(401, "<error>bad upload signature</error>")
        provider = self.headers.get("X-Auth-Service-Provider", "")
        cred, why = verify(self.headers.get("X-Verify-Credentials-Authorization"), "GET", provider,
                           self.headers["Host"], "", b"")
        if cred is None or cred.get("oauth_token") != "acc-tok":
            log("upload refused credentials " + (why or "token"))
            return self.reply(401, "<error>bad credentials</error>")
        ctype = self.headers.get("Content-Type", "")
        msg = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
            b"Content-Type: " + ctype.encode() + b"\r\nMIME-Version: 1.0\r\n\r\n" + body)
        fields = {}
        for part in msg.iter_parts():
            name = part.get_param("name", header="content-disposition")
            fields[name] = (part.get_filename(), part.get_content_type(), part.get_payload(decode=True))
        media = fields.get("media")
        message = fields.get("message")
        if not media or media[0] != "upload.jpg" or media[1] != "image/jpg" or not media[2].startswith(b"\xff\xd8"):
            log("upload refused media")
            return self.reply(400, "<error>no media</error>")
        log("upload provider=%s message=%s jpeg=%d boundary=%s" % (
            urllib.parse.urlsplit(provider).path, message[2].decode("utf-8") if message else None,
            len(media[2]), msg.get_boundary()))
        if message and b"#nolink" in message[2]:
            return self.reply(200, "<image><id>x9</id></image>", "application/xml")  # no link to tweet
        return self.reply(200, "<image><id>x9</id><URL>http://pics.example/x9</URL></image>", "application/xml")

serve(Handler)
