// The first page of a received fax as a picture, for the preview beside the
// journal list: read from the page image the journal row names (JPEG or PNG),
// or decoded from the fax's SFF file with the conversion's own rules (for a
// TIFF, or when the page image is gone).
//
// Reads files an unknown sender shaped: the SFF file through CSffFile and the
// line decoder (bounded reads and rows, the conversion's width and size
// limits); the page image through Qt's reader with its allocation limit.
// Anything unreadable gives a null image. User-interface thread only (the
// decoded page passes through a private temporary folder).
#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

namespace kestrel {

// The first page of the fax whose journal file is `faxFile`; null when none
// can be read.
QImage FaxFirstPage(const QString& faxFile);

// The SFF files that may hold the fax of `faxFile`: the file itself when it is
// one, else the base name with ".sff" (also without a page suffix "_1").
QStringList SffCandidates(const QString& faxFile);

}  // namespace kestrel
