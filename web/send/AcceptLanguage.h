#pragma once
// The language of a page for a browser's Accept-Language: Chinese or English.

// True when the header's most wanted language that the pages speak (Chinese "zh", "zh-*"; English
// "en", "en-*" or "*") is Chinese; a tie goes to the one named first. No header, or none of them
// wanted (q=0 or unknown languages only), gives English.
bool AcceptsChinese(const char* acceptLanguage);
