#pragma once
#include <string>

// The URI as the dispatch sees it: the percent-decoded path with, after every slash or backslash,
// any further slashes, backslashes and ".." pairs that follow at once removed ("/a//b" -> "/a/b",
// "/../x" -> "/x"; a single "." stays).
std::string CleanRequestUri(const std::string& decodedPath);
