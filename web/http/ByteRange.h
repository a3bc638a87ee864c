#pragma once
#include <cstdint>

// What a request's Range header asks of a file of `size` bytes. A pure function of its two inputs,
// safe from any thread.
struct ByteRange {
  enum Kind {
    Whole,          // no Range, one that is not understood, or several ranges: the whole file, "200"
    Part,           // one satisfiable range: bytes first..last (inclusive), "206"
    Unsatisfiable,  // one range that starts beyond the end: "416" with "bytes */SIZE"
  };
  Kind kind = Whole;
  int64_t first = 0;
  int64_t last = -1;
};

// Reads "bytes=first-last", "bytes=first-" or "bytes=-suffix" (spaces around the parts allowed).
// A last beyond the end is cut to the end; a suffix longer than the file means the whole file as a
// part. Anything malformed, or a list of several ranges, is answered with the whole file, as a server
// may. A null header means Whole.
ByteRange ParseByteRange(const char* header, int64_t size);
