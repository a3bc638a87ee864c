#pragma once
#include <cstdint>
#include <string>

// The value of the first `key=value` pair of a raw query string, percent-decoded ("+" read as a
// blank, as forms send it). False when the query has no such key.
bool QueryParameter(const std::string& query, const std::string& key, std::string& value);

// The same value read as a decimal integer of at most 18 digits, without sign: false for anything else.
bool QueryNumber(const std::string& query, const std::string& key, int64_t& value);
