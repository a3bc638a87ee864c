#pragma once
#include <string>

// Cross-site refusal for requests that write (the upload receiver, DELETE): a request whose Origin
// names another scheme, host or port than its own Host header, or, without an Origin, whose Referer
// does, comes from another site's page. An Origin of "null" (a sandboxed or opaque page) is another
// site. A request with neither header (curl, scripts) is not refused for that alone.
// Empty strings stand for absent headers. The service speaks plain http only.
bool IsCrossSiteWrite(const std::string& origin, const std::string& referer, const std::string& host);
