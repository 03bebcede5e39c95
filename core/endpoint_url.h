// Which hosts and URLs Kestrel talks to in clear: only loopback addresses.
// The OAuth endpoints must be https URLs unless they name a loopback host
// (a test's or an ssh tunnel's), and the SMTP login with a token must be
// protected by TLS unless the server is a loopback address. Both are decided
// from the text of the setting, before any connection.
// Texts come from settings (untrusted, any length); they are only compared.
// Failures are Status values (step = the setting's name).
#pragma once

#include <string_view>

#include "core/result.h"

namespace kestrel {

// "localhost", an address of 127.0.0.0/8, or ::1 (bracketed or not).
bool IsLoopbackHost(std::string_view host);

// The host of an http or https URL ("https://[::1]:8443/x" gives "[::1]"),
// empty when `url` is not one.
std::string_view UrlHost(std::string_view url);

// An empty URL, an https URL with a host, or an http URL whose host is a
// loopback address; anything else fails, naming `setting` (not the URL's
// query, which could hold a secret).
[[nodiscard]] Status CheckEndpointUrl(std::string_view setting, std::string_view url);

}  // namespace kestrel
