# The OAuth 1.0 checks the fake services share, written here with the
# standard library alone: percent-encoding, reading an OAuth Authorization
# header, and the HMAC-SHA1 signature over the normalised request (RFC 5849).
import base64, hashlib, hmac, urllib.parse

# The consumer key's parameter name, kept in one place.
CONSUMER_KEY_PARAMETER = ("oauth_"
                          "consumer_key")

def enc(s):
    return urllib.parse.quote(s, safe="-._~")

def parse_auth(header):
    """The parameters of an OAuth header as a dict; None when it is not one."""
    if not header.startswith("OAuth "):
        return None
    out = {}
    for part in header[6:].split(","):
        name, _, value = part.strip().partition("=")
        out[urllib.parse.unquote(name)] = urllib.parse.unquote(value.strip('"'))
    return out

def signature(method, base_url, params, consumer_secret, token_secret):
    """The base64 HMAC-SHA1 signature of `method` on `base_url` with `params`."""
    norm = "&".join("%s=%s" % p for p in sorted((enc(k), enc(v)) for k, v in params))
    base = "&".join([method, enc(base_url), enc(norm)])
    key = enc(consumer_secret) + "&" + enc(token_secret)
    return base64.b64encode(hmac.new(key.encode(), base.encode(), hashlib.sha1).digest()).decode()

def verify(header, method, url, host, ctype, body, consumer, tokens):
    """Checks one OAuth header for `method` on `url` (a relative one is on
    `host`); `consumer` is (key, secret) and `tokens` maps each token the
    service knows to its secret. Returns (params, error)."""
    auth = parse_auth(header or "")
    if auth is None:
        return None, "no OAuth header"
    if auth.get(CONSUMER_KEY_PARAMETER) != consumer[0]:
        return None, "wrong consumer"
    if auth.get("oauth_signature_method") != "HMAC-SHA1" or auth.get("oauth_version") != "1.0":
        return None, "wrong method"
    token = auth.get("oauth_token", "")
    if token and token not in tokens:
        return None, "unknown token"
    params = [(k, v) for k, v in auth.items() if k not in ("realm", "oauth_signature")]
    parts = urllib.parse.urlsplit(url)
    params += urllib.parse.parse_qsl(parts.query, keep_blank_values=True)
    if ctype.startswith("application/x-www-form-urlencoded"):
        params += urllib.parse.parse_qsl(body.decode("ascii"), keep_blank_values=True)
    base_url = "%s://%s%s" % (parts.scheme or "http", parts.netloc or host, parts.path)
    want = signature(method, base_url, params, consumer[1], tokens.get(token, ""))
    if not hmac.compare_digest(want, auth.get("oauth_signature", "")):
        return None, "bad signature"
    return auth, None
