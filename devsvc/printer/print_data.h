// Preparing application text for the printer: binary-conversion decoding, then translation of
// the escape sequences, with the translator's results mapped to OPOS codes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "printer/esc_parser.h"

namespace devsvc {

// OPOS code of a translator result: -1 and -4 give 111 (OPOS_E_FAILURE), -2 and -5 (a feed beyond
// the printer's reach) give 106 (OPOS_E_ILLEGAL), 0 and -3 give 0; anything else 111.
std::int32_t prepare_result_code(std::int32_t translator_result);

// Result of Prepare: an OPOS code and the translated printer text (0x00 written as "<NID>";
// text_to_bytes gives the bytes to send).
struct prepared_text {
  std::int32_t result = 0;
  std::string text;
};

// Prepares `data` for printing: decodes the binary conversion (a wrong length gives 111); an
// empty result is a success with empty text; otherwise translates it. With binary conversion
// none the application's text is UTF-8 and is converted to the code page `character_set`; with
// nibble or decimal the decoded bytes are already printer bytes and are copied as they are.
prepared_text Prepare(std::string_view data, std::int32_t binary_conversion, std::int32_t character_set,
                      const CEscParser& parser, const translate_context& context);

// Result of checking data without printing it (ValidateData).
struct validation {
  std::int32_t result = 0;
  // False when the binary conversion failed: the result (111) is returned without being stored.
  bool store = true;
};

// Decodes the binary conversion and translates in validate mode.
validation validate_data(std::string_view data, std::int32_t binary_conversion, const CEscParser& parser,
                         const translate_context& context);

}  // namespace devsvc
