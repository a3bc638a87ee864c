#pragma once
// Ends an upload whose body brings no new byte for 30 s. CivetWeb's body read waits up to its
// request time-out for each piece it wants and then waits again, so a silent phone would hold its
// worker for a minute or more. While a CUploadStallWatch lives, a watch thread looks at the
// connection's socket four times a second and shuts it once the kernel has received nothing on it
// for the stall limit; the body read then ends, and the receiver drops what the incomplete part
// wrote. Constructed and destroyed on the worker that serves the upload.

struct mg_connection;

inline constexpr int kUploadStallLimitMs = 30000;

class CUploadStallWatch {
 public:
  explicit CUploadStallWatch(const mg_connection* conn);
  ~CUploadStallWatch();
  CUploadStallWatch(const CUploadStallWatch&) = delete;
  CUploadStallWatch& operator=(const CUploadStallWatch&) = delete;

 private:
  int m_socket;
};

// Test hook: another stall limit (kUploadStallLimitMs when 0 or less).
void SetUploadStallLimit(int ms);
