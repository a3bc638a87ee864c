#pragma once
// Test helpers: a temporary folder per test, the real web service on a loopback port, and a raw
// HTTP client that returns the reply byte for byte.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "support/RecordingMainDialog.h"
#include "web/WebService.h"

namespace marlix_test {

// Creates a fresh temporary folder, makes it MARLIX_HOME (the home of programs that the test starts),
// and removes it at the end. The process's current directory stays where it is: tests name their
// files as Path() / "name", so that they run side by side and never depend on where they started.
class CTempWorkDir {
 public:
  CTempWorkDir();
  ~CTempWorkDir();
  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_path;
  bool m_hadHome = false;
  std::string m_previousHome;
};

// Writes a file with the given content, creating its folders. Both take absolute paths only (a
// relative one throws): no test depends on the process's current directory.
void WriteFile(const std::filesystem::path& path, const std::string& content);
std::string ReadFile(const std::filesystem::path& path);

// A fresh state with a recording dialog, whose home is a fresh temporary folder (Dir()), and the
// real web service over it on a free loopback port. Stops it in the destructor. `configure` may
// set the service's options before it starts.
class CTestServer {
 public:
  explicit CTestServer(const std::function<void(CWebService&)>& configure = {});
  ~CTestServer();
  int Port() const { return m_port; }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(m_port); }
  CRecordingMainDialog& Dialog() { return m_dialog; }
  const std::filesystem::path& Dir() const { return m_dir.Path(); }
  void Stop();
  CWebService& Service() { return *m_service; }
  SharedState& State() { return m_state; }
  // The request target with this server's upload secret added to its query as "k", as the upload
  // page sends it ("/tmp/a.txt?k=SECRET", "/f?t=X&k=SECRET").
  std::string WithSecret(const std::string& target) const;

 private:
  CTempWorkDir m_dir;
  CRecordingMainDialog m_dialog;
  SharedState m_state;
  std::unique_ptr<CWebService> m_service;
  int m_port = 0;
};

// A loopback port that nothing listens on at the moment of the call, outside the ephemeral range.
int FreeLoopbackPort();

// A socket connected to the loopback port, or -1. beforeConnect may set socket options that must be
// in place before the connection is made (receive buffer size, TCP_NODELAY).
int ConnectLoopback(int port, const std::function<void(int)>& beforeConnect = {});

// A socket connected to the loopback port from another loopback address ("127.0.0.2": another phone).
int ConnectLoopbackFrom(const std::string& source, int port);

// Sends the request text as it stands and returns everything the server sent until it closed; from
// the source address when one is given.
std::string RawRequest(int port, const std::string& request, const std::string& source = {});

// The reply without its ETag and Last-Modified lines, which change with every file written.
std::string WithoutValidators(const std::string& reply);

// A reply written in the order the service's headers always had, as the HTTP library sends it: the
// library says "Connection: close" after the status line and puts Content-Length after the
// handler's own header lines, after the service's own last line "Referrer-Policy: no-referrer".
// The set of lines and their values are the same.
std::string InLibraryOrder(const std::string& reply);

// The target with the secret added to its query as "k".
std::string WithSecret(const std::string& secret, const std::string& target);

// Splits a raw reply into the header block (up to and including the empty line) and the body.
void SplitReply(const std::string& reply, std::string& head, std::string& body);

}  // namespace marlix_test
