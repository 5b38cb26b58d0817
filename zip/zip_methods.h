#pragma once
// Names of the compression methods a ZIP member header can give, for the
// messages that say why a member was not extracted.
#include <cstdint>
#include <string>
#include <string_view>

namespace quindo {

// The method's usual name ("Deflate64", "BZip2", "AES"); empty for a number
// that no method has.
std::string_view ZipMethodName(uint16_t method);

// The name, or "method N" for a number that no method has.
std::string ZipMethodLabel(uint16_t method);

}  // namespace quindo
