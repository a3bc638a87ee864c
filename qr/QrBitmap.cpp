#include "qr/QrBitmap.h"

// Filled in with the QR image.
int GenerateQrBitmap(const std::string&) { return 0; }
