#include "qr/QrCode.h"

#include <qrencode.h>

bool EncodeQr(const std::string& text, CQrMatrix& out, QrLevel level) {
  const QRecLevel levels[] = {QR_ECLEVEL_L, QR_ECLEVEL_M, QR_ECLEVEL_Q, QR_ECLEVEL_H};
  QRcode* code = QRcode_encodeString(text.c_str(), 0, levels[static_cast<int>(level)], QR_MODE_8, 1);
  if (!code) return false;
  out.width = code->width;
  out.dark.resize(static_cast<size_t>(code->width) * code->width);
  for (size_t i = 0; i < out.dark.size(); ++i) out.dark[i] = code->data[i] & 1;
  QRcode_free(code);
  return true;
}
