// The failures of the SFF reader and of the Modified Huffman line decoder:
// one number per kind of fault and the system's fixed English text for it,
// in one table (sff_error.cpp). Both answer them as a Failure (core/result.h)
// whose code is the number and whose text the fixed text; nothing throws.
#pragma once

#include <string>

#include "core/result.h"

namespace kestrel {

enum class SffError : int {
  kNotSff = 0,             // magic is not "Sfff"
  kCorrupt = 1,            // no marker 254 at the first page header
  kNoWhiteCode = 5,        // a white run was due and no white code fits
  kNoBlackCode = 6,        // a black run was due and no black code fits
  kBlackMakeUpNoTerm = 7,  // a black make-up code without its terminating code
  kWhiteMakeUpNoTerm = 8,  // a white make-up code without its terminating code
  kUnknownVersion = 9,     // version byte greater than 1
  kUnknownEncoding = 10,   // coding byte of a page header not 0
};

// The fixed text for `code`, UTF-8 ("Don´t" carries the acute accent);
// "Unknown error." for a number that names no fault.
[[nodiscard]] std::string SffErrorText(int code);

// The failure of `error` at `step` ("" for the document as a whole).
[[nodiscard]] Failure SffFailure(SffError error, std::string step = {});

}  // namespace kestrel
