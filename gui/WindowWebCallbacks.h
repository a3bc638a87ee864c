#pragma once
// What the window's web service reports to the window besides its events: the texts phones send.
// Called on the service's threads; each reaches the window only through g_State.MainDialog (queued,
// never waiting).

#include "web/WebService.h"

CWebCallbacks WindowWebCallbacks();
