#include "service/ServiceConfig.h"

// Filled in with the relay client.
std::string ServiceHost() { return "127.0.0.1:8200"; }
std::string UploadHost() { return "127.0.0.1:8200"; }
