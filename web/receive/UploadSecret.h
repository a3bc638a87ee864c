#pragma once
#include <string>

// True when the query (the text after "?", undecoded) carries the parameter "k" equal to the run's
// upload secret. The comparison takes the same time wherever the texts differ; an empty secret
// matches nothing.
bool QueryHasUploadSecret(const std::string& query, const std::string& secret);
