#pragma once
// A certificate authority that a test makes with openssl in its own folder, the certificates it
// issues for 127.0.0.1 and localhost, and requests over libcurl that trust a given authority.

#include <curl/curl.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

class CTestCa {
 public:
  // Makes the authority's key and certificate as NAME.key and NAME.pem in `dir`.
  CTestCa(std::filesystem::path dir, const std::string& name) : m_dir(std::move(dir)), m_name(name) {
    Run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=" + name + " -keyout " +
        Path(name + ".key") + " -out " + Path(name + ".pem"));
  }
  std::string Cert() const { return Path(m_name + ".pem"); }

  // Issues NAME.pem (its subject's CN is NAME) and NAME.key for 127.0.0.1 and localhost.
  void Issue(const std::string& name) const {
    const std::string ext = Path(name + ".ext");
    std::ofstream(ext) << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
    Run("openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=" + name + " -keyout " +
        Path(name + ".key") + " -out " + Path(name + ".csr"));
    Run("openssl x509 -req -days 2 -in " + Path(name + ".csr") + " -CA " + Cert() + " -CAkey " + Path(m_name + ".key") +
        " -CAcreateserial -CAserial " + Path(m_name + ".srl") + " -extfile " + ext + " -out " + Path(name + ".pem"));
  }
  std::string Path(const std::string& file) const { return (m_dir / file).string(); }
  bool Made() const { return m_failed == 0; }

 private:
  void Run(const std::string& command) const {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) ++m_failed;
  }
  std::filesystem::path m_dir;
  std::string m_name;
  mutable int m_failed = 0;
};

struct CTlsRequest {
  std::string Ca = {};  // the authority to trust; empty: the system's store
  bool Tls11 = false;   // offer only TLS 1.0 and 1.1 (at a security level that allows them)
  std::vector<std::string> Headers = {};
  std::string Post = {};                    // a POST of this body when not empty
  std::string From = {};                    // the loopback address to connect from (empty: the system's choice)
  long RecvSpeed = 0;                       // bytes a second at most (0: no limit)
  std::function<void()> OnFirstBytes = {};  // called once, when the body's first bytes arrive
};

struct CTlsReply {
  int Result = -1;  // libcurl's result
  long Status = 0;
  std::string Body;
  std::string Subject;  // the server certificate's subject
};

inline CTlsReply TlsRequest(const std::string& url, const CTlsRequest& request = {}) {
  struct Sink {
    CTlsReply* reply;
    const CTlsRequest* request;
    bool told = false;
  };
  CTlsReply reply;
  Sink sink{&reply, &request};
  CURL* curl = curl_easy_init();
  auto write = [](char* data, size_t size, size_t count, void* out) {
    auto* s = static_cast<Sink*>(out);
    if (!s->told && s->request->OnFirstBytes) s->request->OnFirstBytes();
    s->told = true;
    s->reply->Body.append(data, size * count);
    return size * count;
  };
  curl_slist* headers = nullptr;
  for (const std::string& h : request.Headers) headers = curl_slist_append(headers, h.c_str());
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +write);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_CERTINFO, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
  if (!request.Ca.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, request.Ca.c_str());
  if (request.Tls11) {
    curl_easy_setopt(curl, CURLOPT_SSLVERSION,
                     static_cast<long>(CURL_SSLVERSION_TLSv1_0) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_1));
    curl_easy_setopt(curl, CURLOPT_SSL_CIPHER_LIST, "DEFAULT@SECLEVEL=0");
  }
  if (!request.Post.empty()) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.Post.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.Post.size()));
  }
  if (!request.From.empty()) curl_easy_setopt(curl, CURLOPT_INTERFACE, request.From.c_str());
  if (request.RecvSpeed > 0)
    curl_easy_setopt(curl, CURLOPT_MAX_RECV_SPEED_LARGE, static_cast<curl_off_t>(request.RecvSpeed));
  reply.Result = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.Status);
  curl_certinfo* info = nullptr;
  if (curl_easy_getinfo(curl, CURLINFO_CERTINFO, &info) == CURLE_OK && info && info->num_of_certs > 0) {
    for (curl_slist* field = info->certinfo[0]; field; field = field->next) {
      const std::string text = field->data;
      if (text.rfind("Subject:", 0) == 0) reply.Subject = text.substr(8);
    }
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return reply;
}

// The upload frame as the relay reads it.
inline std::string RelayFrame(const std::string& token, const std::string& name, const std::string& content) {
  auto be = [](size_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
  };
  return be(token.size()) + token + be(name.size()) + name + be(content.size()) + content;
}
