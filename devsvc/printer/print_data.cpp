// Prepare and ValidateData's checks: binary conversion, translation, result mapping.
#include "printer/print_data.h"

#include "core/binary_conversion.h"

namespace devsvc {
namespace {

constexpr std::int32_t kSuccess = 0;
constexpr std::int32_t kIllegal = 106;
constexpr std::int32_t kFailure = 111;

}  // namespace

std::int32_t prepare_result_code(std::int32_t translator_result) {
  switch (translator_result) {
    case kTranslateOk:
    case kTranslateEmpty:
      return kSuccess;
    case kTranslateBadMode:
    case kTranslateBeyondReach:
      return kIllegal;
    default:
      return kFailure;
  }
}

prepared_text Prepare(std::string_view data, std::int32_t binary_conversion, std::int32_t character_set,
                      const CEscParser& parser, const translate_context& context) {
  std::optional<std::string> decoded = binary_decode(data, binary_conversion);
  if (!decoded) return {kFailure, {}};
  if (decoded->empty()) return {kSuccess, {}};
  // Decoded nibble or decimal data are printer bytes already: no code-page conversion.
  const bool raw = binary_conversion == kBinaryConversionNibble || binary_conversion == kBinaryConversionDecimal;
  const int codepage = raw ? 0 : character_set;
  translate_result translated = parser.Translate(*decoded, translate_mode::translate, context, codepage);
  const std::int32_t result = prepare_result_code(translated.result);
  if (result != kSuccess) return {result, {}};
  return {kSuccess, std::move(translated.text)};
}

validation validate_data(std::string_view data, std::int32_t binary_conversion, const CEscParser& parser,
                         const translate_context& context) {
  const std::optional<std::string> decoded = binary_decode(data, binary_conversion);
  if (!decoded) return {kFailure, false};
  return {prepare_result_code(parser.Translate(*decoded, translate_mode::validate, context).result), true};
}

}  // namespace devsvc
