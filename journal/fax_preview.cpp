#include "journal/fax_preview.h"

#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>

#include <vector>

#include "convert/bmp_page_file.h"
#include "convert/line_decoder.h"
#include "convert/sff_converter.h"
#include "convert/sff_exception.h"
#include "convert/sff_file.h"
#include "core/event_log.h"

namespace kestrel {
namespace {

// The conversion's event texts have no place in a preview.
class CDiscardLog final : public IEventLog {
 public:
  void WriteEventText(std::string_view) override {}
};

QImage DecodeFirstSffPage(const QString& sffPath) {
  if (!QFileInfo(sffPath).isFile()) return {};
  QTemporaryDir folder;
  if (!folder.isValid()) return {};
  const std::string bmpPath = QFile::encodeName(folder.filePath(QStringLiteral("preview.bmp"))).toStdString();
  CDiscardLog log;
  try {
    CSffFile sff(QFile::encodeName(sffPath).toStdString(), log);
    if (sff.PageCount() < 1) return {};
    std::vector<std::uint8_t> row(RowBufferSize, 0);
    SffRecord record;
    CBmpPageFile bmp;
    const bool doubled = sff.VerticalResolution() == 0;
    if (!WriteSffPageBitmap(sff, 1, doubled, row.data(), record, bmp, bmpPath, log)) return {};
  } catch (const CSffException&) {
    return {};
  }
  return QImage(QString::fromStdString(bmpPath), "BMP");
}

}  // namespace

QStringList SffCandidates(const QString& faxFile) {
  const QFileInfo info(faxFile);
  if (info.suffix().compare(QLatin1String("sff"), Qt::CaseInsensitive) == 0) return {faxFile};
  const QString base = info.path() + QLatin1Char('/') + info.completeBaseName();
  QStringList candidates{base + QStringLiteral(".sff")};
  if (base.endsWith(QLatin1String("_1"))) candidates << base.chopped(2) + QStringLiteral(".sff");
  return candidates;
}

QImage FaxFirstPage(const QString& faxFile) {
  if (faxFile.isEmpty()) return {};
  const QString suffix = QFileInfo(faxFile).suffix().toLower();
  if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg") || suffix == QLatin1String("png") ||
      suffix == QLatin1String("tif") || suffix == QLatin1String("tiff")) {
    QImageReader reader(faxFile);
    QImage page = reader.read();
    if (!page.isNull()) return page;
  }
  for (const QString& sff : SffCandidates(faxFile)) {
    QImage page = DecodeFirstSffPage(sff);
    if (!page.isNull()) return page;
  }
  return {};
}

}  // namespace kestrel
