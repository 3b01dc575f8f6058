// Placeholder until this language's decoder is written.
#include "decode/decode.h"

namespace dwdecode {
DecodeResult DecodeEplLine(std::string_view) { return {{}, {}, {{0, "decoder not written yet"}}}; }
DecodeResult DecodeEplPage(std::string_view) { return {{}, {}, {{0, "decoder not written yet"}}}; }
}  // namespace dwdecode
