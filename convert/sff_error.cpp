#include "convert/sff_error.h"

namespace kestrel {

std::string SffErrorText(int code) {
  switch (static_cast<SffError>(code)) {
    case SffError::kNotSff: return "Not a valid sff file.";
    case SffError::kCorrupt: return "File seems corrupt. Reading abandoned.";
    case SffError::kNoWhiteCode: return "Line doesn't begin with white code.";
    case SffError::kNoBlackCode: return "White code not followed by black code.";
    case SffError::kBlackMakeUpNoTerm: return "Black MUC not followed by black TERM.";
    case SffError::kWhiteMakeUpNoTerm: return "White MUC not followed by white TERM.";
    case SffError::kUnknownVersion: return "Don\u00b4t know how to handle this Fileversion.";
    case SffError::kUnknownEncoding: return "Don\u00b4t know how to handle this encoding.";
  }
  return "Unknown error.";
}

Failure SffFailure(SffError error, std::string step) {
  const int code = static_cast<int>(error);
  return Failure{std::move(step), SffErrorText(code), code};
}

}  // namespace kestrel
