#pragma once
// The one reader of query strings (the raw text after "?", as the server hands it over), for the web
// service and the relay. Pure functions, any thread.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Calls `pair` with the name and value of each "&"-separated piece of the query in order, both as
// sent (not decoded); a piece without "=" has an empty value, and an empty query is one empty piece.
// Stops early when `pair` returns false.
void ForEachQueryPair(std::string_view query,
                      const std::function<bool(std::string_view name, std::string_view value)>& pair);

// The value of the first pair whose name is `key`, names and values percent-decoded ("+" read as a
// blank, as forms send it; a bad escape stays as it stands). False when the query has no such key.
bool QueryParameter(std::string_view query, const std::string& key, std::string& value);

// The same value read as a decimal integer of at most 18 digits, without sign: false for anything else.
bool QueryNumber(std::string_view query, const std::string& key, int64_t& value);
