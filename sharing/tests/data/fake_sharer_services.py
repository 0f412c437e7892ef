# A fake of the bookmarking, blogging and social services the sharers talk
# to. It records every request with its own reading of it: the query and a
# form body as ordered name/value pairs, a multipart body split into its
# parts (with a digest of binary values), Basic credentials, and for OAuth
# requests its own check of the HMAC-SHA1 signature; an XML body is parsed
# (its comment and submitted URL kept). Replies are set by the
# test: POST /__reply with JSON {"path": [reply, ...]} where a reply is
# {"status": n, "headers": {..}, "body": "..", "basic": true | "any"} ("bytes"
# in place of "body" gives the reply's bytes as Latin-1 text; "basic"
# asks for Basic credentials: true accepts only those of BASIC, "any"
# accepts and records whatever comes; "cut": n sends the head announcing
# the whole body and only its first n bytes, then closes the connection,
# with a reset when "reset" is true; "delay": s answers after s seconds, a
# service that takes its time; "hold": true answers only once the test
# posts /__release (or after 30 s), so the test acts while the request is on
# its way); replies of a path are used in order, the last one stays.
# GET /__log answers the records as JSON; GET /__held answers
# {"held": requests held so far, "answered": held ones answered since}.
# Prints its port on the first line, then serves until killed.
import base64, hashlib, hmac, json, socket, struct, threading, time, urllib.parse
import xml.etree.ElementTree as ElementTree

from fake_server import QuietHandler, serve
from oauth_check import CONSUMER_KEY_PARAMETER, signature

CONSUMER_KEY, CONSUMER_SECRET = "lkey", "lsecret"
TOKENS = {"reqtok": "reqsecret", "acctok": "accsecret"}
BASIC = {"pinuser": "pa/ss"}  # Basic credentials the fake accepts
LOG, REPLIES = [], {}
LOCK = threading.Lock()
HELD = {"held": 0, "answered": 0}
GATE = [threading.Event()]  # opened by /__release, then replaced

def parse_auth(header):
    """The OAuth header's parameters in order; None unless every value is quoted."""
    if not header.startswith("OAuth "):
        return None
    out = []
    for part in header[6:].split(", "):
        name, _, value = part.partition("=")
        if not (value.startswith('"') and value.endswith('"')):
            return None
        out.append((urllib.parse.unquote(name), urllib.parse.unquote(value[1:-1])))
    return out

def check_oauth(handler, path):
    pairs = parse_auth(handler.headers.get("Authorization", ""))
    if pairs is None:
        return {"ok": False, "why": "no OAuth header"}
    auth = dict(pairs)
    if auth.get(CONSUMER_KEY_PARAMETER) != CONSUMER_KEY:
        return {"ok": False, "why": "wrong consumer"}
    token = auth.get("oauth_token", "")
    if token and token not in TOKENS:
        return {"ok": False, "why": "unknown token"}
    params = [(k, v) for k, v in pairs if k not in ("realm", "oauth_signature")]
    url = urllib.parse.urlsplit(path)
    params += urllib.parse.parse_qsl(url.query, keep_blank_values=True)
    base_url = "http://%s%s" % (handler.headers["Host"], url.path)
    want = signature(handler.command, base_url, params, CONSUMER_SECRET, TOKENS.get(token, ""))
    ok = hmac.compare_digest(want, auth.get("oauth_signature", ""))
    return {"ok": ok, "why": "" if ok else "bad signature", "params": auth, "order": [k for k, _ in pairs]}

def split_multipart(body, ctype):
    marker = "boundary="
    if marker not in ctype:
        return None
    boundary = ctype.split(marker, 1)[1].strip().encode()
    delim = b"--" + boundary
    chunks = body.split(delim)
    parts = []
    for chunk in chunks[1:]:
        if chunk.startswith(b"--"):
            break  # closing delimiter
        if not chunk.startswith(b"\r\n"):
            return {"error": "part without CR LF after the boundary"}
        head, sep, value = chunk[2:].partition(b"\r\n\r\n")
        if not sep:
            continue
        if value.endswith(b"\r\n"):
            value = value[:-2]
        entry = {"headers": head.decode("latin-1").split("\r\n")}
        if value[:2] == b"\xff\xd8":
            entry["md5"] = hashlib.md5(value).hexdigest()
        else:
            entry["value"] = value.decode("utf-8", "replace")
        parts.append(entry)
    return {"parts": parts, "closed": body.endswith(delim + b"--\r\n"),
            "starts_crlf": body.startswith(b"\r\n" + delim), "ends_delim_line": body.endswith(delim + b"\r\n")}

class Handler(QuietHandler):
    def handle_any(self):
        body = self.read_body()
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/__log":
            with LOCK:
                return self.send(200, json.dumps(LOG), {"Content-Type": "application/json"})
        if url.path == "/__held":
            with LOCK:
                return self.send(200, json.dumps(HELD), {"Content-Type": "application/json"})
        if url.path == "/__release":
            with LOCK:
                GATE[0].set()
                GATE[0] = threading.Event()
            return self.send(200, "ok")
        if url.path == "/__reply":
            with LOCK:
                for k, v in json.loads(body).items():
                    REPLIES[k] = list(v)
            return self.send(200, "ok")
        ctype = self.headers.get("Content-Type", "")
        rec = {"method": self.command, "path": url.path, "rawquery": url.query, "target": self.path,
               "query": urllib.parse.parse_qsl(url.query, keep_blank_values=True),
               "headers": {k.lower(): v for k, v in self.headers.items()}, "raw": body.decode("latin-1")}
        if ctype.startswith("multipart/form-data"):
            rec["multipart"] = split_multipart(body, ctype)
            rec["raw"] = ""  # binary: only its reading is recorded
        elif body:
            rec["form"] = urllib.parse.parse_qsl(body.decode("latin-1"), keep_blank_values=True)
        if ctype.startswith("text/xml"):
            # Read by an XML parser (expat): a document that is not
            # well-formed is refused the way a real service would.
            try:
                root = ElementTree.fromstring(body)
                rec["xml"] = {"ok": True, "comment": root.findtext("comment") or "",
                              "url": root.findtext("content/submitted-url") or ""}
            except ElementTree.ParseError as e:
                rec["xml"] = {"ok": False, "why": str(e)}
        if "OAuth" in self.headers.get("Authorization", ""):
            rec["oauth"] = check_oauth(self, self.path)
        with LOCK:
            queue = REPLIES.get(url.path)
            reply = (queue.pop(0) if len(queue) > 1 else queue[0]) if queue else {"status": 200, "body": "ok"}
        if reply.get("basic"):
            got = self.headers.get("Authorization", "")
            if not got.startswith("Basic "):
                self.send(401, "who", {"WWW-Authenticate": 'Basic realm="fake"'})
                return
            user, _, pw = base64.b64decode(got[6:]).decode().partition(":")
            rec["basic"] = [user, pw]
            if reply["basic"] != "any" and BASIC.get(user) != pw:
                with LOCK:
                    LOG.append(rec)
                return self.send(401, "bad", {"WWW-Authenticate": 'Basic realm="fake"'})
        with LOCK:
            LOG.append(rec)
        if "delay" in reply:
            time.sleep(float(reply["delay"]))
        if reply.get("hold"):
            with LOCK:
                HELD["held"] += 1
                gate = GATE[0]
            gate.wait(30)
            try:
                self.send(reply.get("status", 200), reply.get("body", ""), reply.get("headers"))
            except OSError:
                pass  # the client had left: the answer went nowhere
            with LOCK:
                HELD["answered"] += 1
            self.close_connection = True
            return
        if "bytes" in reply:
            reply = dict(reply, body=reply["bytes"].encode("latin-1"))
        if "cut" in reply:
            return self.send_cut(reply)
        self.send(reply.get("status", 200), reply.get("body", ""), reply.get("headers"))

    def send_cut(self, reply):
        """A reply that breaks off: the head announces the whole body, the
        connection ends after its first reply["cut"] bytes."""
        data = reply.get("body", "")
        data = data.encode() if isinstance(data, str) else data
        self.send_response(reply.get("status", 200))
        for k, v in (reply.get("headers") or {}).items():
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data[:reply["cut"]])
        self.wfile.flush()
        self.close_connection = True
        if reply.get("reset"):
            # A close with lingering off sends a reset instead of the end
            # of the stream; the reader's buffer holds the socket open.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.rfile.close()
            self.connection.close()

    do_GET = do_POST = do_PUT = handle_any

serve(Handler)
