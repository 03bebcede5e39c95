#include "convert/sff_exception.h"

namespace kestrel {

std::string CSffException::GetErrorText() const {
  switch (code_) {
    case kNotSff: return "Not a valid sff file.";
    case kCorrupt: return "File seems corrupt. Reading abandoned.";
    case kNoWhiteCode: return "Line doesn't begin with white code.";
    case kNoBlackCode: return "White code not followed by black code.";
    case kBlackMakeUpNoTerm: return "Black MUC not followed by black TERM.";
    case kWhiteMakeUpNoTerm: return "White MUC not followed by white TERM.";
    case kUnknownVersion: return "Don\u00b4t know how to handle this Fileversion.";
    case kUnknownEncoding: return "Don\u00b4t know how to handle this encoding.";
    default: return "Unknown error.";
  }
}

}  // namespace kestrel
