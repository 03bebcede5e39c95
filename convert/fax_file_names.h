// The names of a received fax's files: the capture file "<name>.sff" in the
// received-faxes folder, and next to it what the conversion writes from it:
// "<name>.jpg" or "<name>.png" for a fax of one page, "<name>_<page>.jpg" or
// "<name>_<page>.png" for each page of a longer one, or one "<name>.tif".
// This file is the one place that knows the rule; the forwarding step, the
// journal and the preview ask it. Pure string functions: nothing here fails.
#pragma once

#include <string>
#include <vector>

#include "core/image_format.h"

namespace kestrel {

// The folder of `sffPath` with its trailing "/" ("" for a bare file name).
[[nodiscard]] std::string SffFolder(const std::string& sffPath);
// `sffPath` without its extension (the part from the last dot of the file name).
[[nodiscard]] std::string SffBaseName(const std::string& sffPath);

// The one file that stands for the fax in `format`: base + ".jpg", ".png" or
// ".tif", or the capture file itself for Sff; "" for a number that names no
// format. For the page-per-file formats it is the name of a one-page fax.
[[nodiscard]] std::string FaxFilePath(const std::string& sffPath, ImageFormat format);

// The image file of page `page` (from 1) in a page-per-file format: the
// single-file name for a one-page fax, else base + "_<page>" + extension.
[[nodiscard]] std::string PageFilePath(const std::string& sffPath, ImageFormat format, int pageCount, int page);

// The capture files that may hold the fax of `faxFile` (a file the journal
// names): the file itself when it is one, else the base name with ".sff", and
// for a page file of a longer fax ("_1") also the base without the page suffix.
[[nodiscard]] std::vector<std::string> SffCandidates(const std::string& faxFile);

}  // namespace kestrel
