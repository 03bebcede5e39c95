// The error of the SFF reader and of the Modified Huffman line decoder: one
// integer code and a fixed English text per code. Thrown by value; the line
// decoder's errors are caught per line, the reader's per document.
#pragma once

#include <string>

namespace kestrel {

class CSffException {
 public:
  enum Code : int {
    kNotSff = 0,              // magic is not "Sfff"
    kCorrupt = 1,             // no marker 254 at the first page header
    kNoWhiteCode = 5,         // a white run was due and no white code fits
    kNoBlackCode = 6,         // a black run was due and no black code fits
    kBlackMakeUpNoTerm = 7,   // a black make-up code without its terminating code
    kWhiteMakeUpNoTerm = 8,   // a white make-up code without its terminating code
    kUnknownVersion = 9,      // version byte greater than 1
    kUnknownEncoding = 10,    // coding byte of a page header not 0
  };

  explicit CSffException(int code) : code_(code) {}

  int GetErrorCode() const { return code_; }
  // The fixed text for the code, UTF-8 ("Don´t" carries the acute accent).
  std::string GetErrorText() const;

 private:
  int code_;
};

}  // namespace kestrel
