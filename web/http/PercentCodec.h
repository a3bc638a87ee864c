#pragma once
// Percent-encoding of one component of an address (a path, a query's names and values) or of an
// extended header parameter's value: the one codec of the web service, the relay and their clients.
// Pure functions, any thread.

#include <string>
#include <string_view>

// How "+" reads: as a blank in a form's query (what browsers send for a space there), as itself in
// a path or a header parameter.
enum class PlusSign { Itself, Blank };

// What an escape that is not "%" and two hexadecimal digits ("%zz", "%4" or "%" at the end) does:
// stays as it stands, or makes the whole text undecodable.
enum class BadEscape { Keep, Refuse };

// `text` with every "%XX" replaced by its byte (either case of hexadecimal digits). "%00" gives a
// NUL byte like any other: a caller that hands the result to the file system refuses it itself.
// False only with BadEscape::Refuse and a bad escape (`out` then holds part of the text).
bool PercentDecode(std::string_view text, std::string& out, PlusSign plus = PlusSign::Itself,
                   BadEscape bad = BadEscape::Keep);
// The same with bad escapes kept.
std::string PercentDecoded(std::string_view text, PlusSign plus = PlusSign::Itself);

// `text` with every byte for which `keep` is false written as "%XX" (upper-case digits).
std::string PercentEncode(std::string_view text, bool (*keep)(unsigned char));

// The bytes that no component needs escaped: ASCII letters and digits, "-", ".", "_" and "~".
bool IsUnreservedByte(unsigned char c);
// The bytes an extended header parameter's value carries as they are: the unreserved ones and
// "!", "#", "$", "&", "+", "^", "`" and "|".
bool IsAttrCharByte(unsigned char c);
