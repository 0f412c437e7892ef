// Log lines without secrets. Every log line that shows a URL, a header or
// a list of form parameters passes it through one of these first: the
// line keeps its shape (names, hosts, paths, the order of the pairs) and
// each secret value becomes kSecretMask.
//
// A value is secret when its name says so (isSecretName): passwords, tokens
// and token secrets, signatures, session handles, verifiers, API keys. The
// password of a URL's "user:password@" part is secret whatever it holds.
#pragma once

#include <string>
#include <string_view>

namespace ns {

inline constexpr std::string_view kSecretMask = "********";

// True for a parameter or field name that carries a secret (any case, and
// percent escapes in the name decoded first): a name holding "pass", "pwd",
// "secret", "token", "signature", "session", "verifier", "apikey",
// "api_key" or "credential", or exactly "auth", "sig" or "t" (a service's
// edit token).
bool isSecretName(std::string_view name);

// "a=1&password=x&b" -> "a=1&password=********&b": the value of every
// name=value pair with a secret name is masked; everything else stays as
// it was, byte for byte.
std::string maskSecretsInParameters(std::string_view pairs);

// A URL (or any text that may be one) with the password of its user part,
// and the secret pairs of its query and fragment, masked. Text that is not
// a URL with a scheme has only its pairs masked when it holds "=".
std::string maskSecretsInURL(std::string_view url);

// The value of a header field as a log line may show it: the credentials
// of "Authorization" and "Proxy-Authorization" masked after the scheme
// word ("Basic ********"), "Cookie" and "Set-Cookie" masked whole, and
// any field whose name is secret masked whole.
std::string maskSecretsInHeader(std::string_view name, std::string_view value);

}  // namespace ns
