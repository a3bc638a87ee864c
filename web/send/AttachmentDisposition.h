#pragma once
#include <string>

// The Content-Disposition value for an attachment name (UTF-8): the name as a quoted string, with
// quotes and backslashes escaped and control characters replaced, so that no name can break the header;
// then the same name percent-encoded as filename*=UTF-8''..., which browsers prefer.
std::string AttachmentDisposition(const std::string& name);
