// The first page of a received fax as a picture, for the preview beside the
// journal list: read from the page image the journal row names (JPEG or PNG),
// or decoded from the fax's SFF file (found by the naming rule of
// convert/fax_file_names.h) into the conversion's in-memory page and shown
// as it is, 1 bit a pixel (for a TIFF or a PDF, or when the page image is
// gone).
//
// Reads files an unknown sender shaped: the SFF file through CSffFile, the
// line decoder and CFaxPage (bounded reads and rows, the conversion's width
// and size limits); the page image through Qt's reader with its allocation
// limit. Anything unreadable gives a null image. User-interface thread only.
#pragma once

#include <QImage>
#include <QString>

namespace kestrel {

// The first page of the fax whose journal file is `faxFile`; null when none
// can be read.
QImage FaxFirstPage(const QString& faxFile);

}  // namespace kestrel
