#include "zip/zip_methods.h"

namespace quindo {

std::string_view ZipMethodName(uint16_t method) {
  switch (method) {
    case 0: return "Stored";
    case 1: return "Shrink";
    case 2: return "Reduce 1";
    case 3: return "Reduce 2";
    case 4: return "Reduce 3";
    case 5: return "Reduce 4";
    case 6: return "Implode";
    case 7: return "Tokenize";
    case 8: return "Deflate";
    case 9: return "Deflate64";
    case 10: return "PKWARE DCL Implode";
    case 12: return "BZip2";
    case 14: return "LZMA";
    case 16: return "IBM z/OS CMPSC";
    case 18: return "IBM TERSE";
    case 19: return "IBM LZ77";
    case 20: return "Zstandard";  // the number first given to it, still written by some tools
    case 93: return "Zstandard";
    case 94: return "MP3";
    case 95: return "XZ";
    case 96: return "JPEG";
    case 97: return "WavPack";
    case 98: return "PPMd";
    case 99: return "AES";
    default: return {};
  }
}

std::string ZipMethodLabel(uint16_t method) {
  std::string_view name = ZipMethodName(method);
  if (!name.empty()) return std::string(name);
  return "method " + std::to_string(method);
}

}  // namespace quindo
