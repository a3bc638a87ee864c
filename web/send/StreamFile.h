#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "web/http/ByteRange.h"
#include "web/http/HttpReply.h"
#include "web/http/HttpRequest.h"

class CMainDialogView;

// One file sent as the reply to a request: every route that sends a file goes through it, so that
// each such reply carries Accept-Ranges and the file's validators and answers Range and If-Range.
//
// The file is opened once, at construction: its size, its validators and the bytes sent all belong
// to that one open file, even when the path is replaced while the reply is under way. A missing file,
// or one that is not a regular file, is sent as an empty "200" without validators, whatever the Range.
// Used by one thread for one request.
class CFileReply {
 public:
  CFileReply(const CHttpRequest& request, const std::string& path);
  // Takes an already opened file descriptor (or -1 for none) and closes it at the end.
  CFileReply(const CHttpRequest& request, int fd);
  ~CFileReply();
  CFileReply(const CFileReply&) = delete;
  CFileReply& operator=(const CFileReply&) = delete;

  // True when the reply begins at the file's first byte (a whole file, or a range from byte 0):
  // only such a request counts as a download.
  bool StartsAtFirstByte() const;
  // True when the reply carries bytes of the file.
  bool HasBody() const { return m_length > 0; }
  int64_t Size() const { return m_size; }

  // The reply: "200", "206" or "416", then `headers` as given, then Content-Length, Accept-Ranges,
  // Content-Range where it belongs, ETag and Last-Modified, and the bytes of the range. With a
  // progress view, that dialog's progress bar shows the whole percent of the file (not of the range)
  // reached, as after each 4096-byte piece, and gets a position only when it changes. Either way the
  // kernel sends the file (sendfile). Hands the file to the reply.
  CHttpReply Reply(std::vector<std::pair<std::string, std::string>> headers, CMainDialogView* progress);

  // The strong validator of a file of that size, modification time and inode, quoted.
  static std::string MakeETag(int64_t size, int64_t mtimeNs, uint64_t inode);

 private:
  void Decide(const CHttpRequest& request);

  int m_fd = -1;
  int64_t m_size = 0;
  std::string m_etag;          // empty without a file
  std::string m_lastModified;  // HTTP date, empty without a file
  ByteRange m_range;
  int64_t m_first = 0;
  int64_t m_length = 0;
};
