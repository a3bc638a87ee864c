#pragma once
#include <cstddef>
#include <string>

// UTF-8 text cut to at most `max` bytes without splitting a character: a character that the limit
// would split is dropped whole. Text within the limit comes back as it is.
std::string CutUtf8(const std::string& text, size_t max);
