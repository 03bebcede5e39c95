#include "journal_view/fax_preview.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <cstring>
#include <string>
#include <vector>

#include "convert/fax_file_names.h"
#include "convert/fax_page.h"
#include "convert/line_decoder.h"
#include "convert/sff_file.h"
#include "core/event_log.h"

namespace kestrel {
namespace {

// The conversion's event texts have no place in a preview.
class CDiscardLog final : public IEventLog {
 public:
  void WriteEventText(std::string_view) override {}
};

QImage DecodeFirstSffPage(const std::string& sffPath) {
  if (!QFileInfo(QFile::decodeName(sffPath.c_str())).isFile()) return {};
  CDiscardLog log;
  CFaxPage page;
  Result<CSffFile> sff = CSffFile::Open(sffPath, log);
  if (!sff || sff->PageCount() < 1) return {};
  std::vector<std::uint8_t> row(RowBufferSize, 0);
  if (!DecodeSffPage(*sff, 1, sff->VerticalResolution() == 0, row.data(), page, log)) return {};
  // The page's rows are Qt's 1-bit rows already: most significant bit first,
  // colour 1 black.
  QImage image(page.Width(), page.Height(), QImage::Format_Mono);
  if (image.isNull()) return {};
  image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  for (int y = 0; y < page.Height(); ++y) std::memcpy(image.scanLine(y), page.Row(y), page.Stride());
  return image;
}

}  // namespace

QImage FaxFirstPage(const QString& faxFile) {
  if (faxFile.isEmpty()) return {};
  const QString suffix = QFileInfo(faxFile).suffix().toLower();
  if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg") || suffix == QLatin1String("png") ||
      suffix == QLatin1String("tif") || suffix == QLatin1String("tiff")) {
    QImageReader reader(faxFile);
    QImage page = reader.read();
    if (!page.isNull()) return page;
  }
  for (const std::string& sff : SffCandidates(QFile::encodeName(faxFile).toStdString())) {
    QImage page = DecodeFirstSffPage(sff);
    if (!page.isNull()) return page;
  }
  return {};
}

}  // namespace kestrel
