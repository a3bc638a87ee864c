#include "web/http/HttpReply.h"

#include <unistd.h>

CHttpReply::CHttpReply(CHttpReply&& other) noexcept { *this = std::move(other); }

CHttpReply& CHttpReply::operator=(CHttpReply&& other) noexcept {
  if (this == &other) return *this;
  ReleaseFile();
  Drop = other.Drop;
  Status = other.Status;
  AsHttp10 = other.AsHttp10;
  Headers = std::move(other.Headers);
  Kind = other.Kind;
  Memory = std::move(other.Memory);
  Fd = other.TakeFd();
  Offset = other.Offset;
  Length = other.Length;
  OnProgress = std::move(other.OnProgress);
  ProgressOnAcknowledgement = other.ProgressOnAcknowledgement;
  Producer = std::move(other.Producer);
  ProducerLength = other.ProducerLength;
  Work = std::move(other.Work);
  Delay = other.Delay;
  return *this;
}

CHttpReply::~CHttpReply() { ReleaseFile(); }

void CHttpReply::ReleaseFile() {
  if (Fd >= 0) ::close(Fd);
  Fd = -1;
}

int CHttpReply::TakeFd() {
  const int fd = Fd;
  Fd = -1;
  return fd;
}

CHttpReply CHttpReply::Dropped() {
  CHttpReply reply;
  reply.Drop = true;
  return reply;
}

CHttpReply CHttpReply::Text(int status, std::string contentType, std::string body) {
  CHttpReply reply;
  reply.Status = status;
  reply.AddHeader("Content-Type", std::move(contentType));
  reply.Memory = std::move(body);
  return reply;
}

CHttpReply CHttpReply::Later(std::function<CHttpReply(CHttpRequest&)> work) {
  CHttpReply reply;
  reply.Kind = Body::Later;
  reply.Work = std::move(work);
  return reply;
}
