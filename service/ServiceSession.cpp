#include "service/ServiceSession.h"

// Filled in with the relay client.
void ServiceSignIn() {}
void ServiceSignOut() {}
