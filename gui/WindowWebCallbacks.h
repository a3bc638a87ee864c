#pragma once
// What the window's web service reports to the window besides its events: the texts phones send.
// Called on the service's threads; each reaches the window only through the state's MainDialog
// (queued, never waiting); the state outlives the service.

#include "web/WebService.h"

CWebCallbacks WindowWebCallbacks(SharedState& state);
