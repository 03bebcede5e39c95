// Tesseract is given the page as it wants it (1 = white, most significant bit
// first) and, for a normal-resolution page, with every row twice, so that
// letters have the proportions it was trained on; the words' boxes are then
// brought back to the page's own rows.
#include "convert/page_text_recognizer.h"

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string_view>

#include "convert/fax_page.h"
#include "core/event_log.h"

namespace kestrel {
namespace {

// A longer name is no language anyone means.
constexpr std::size_t kMaxLanguageName = 64;

// Tesseract and its image library write their diagnostics (a missing
// language file, a page of noise) to standard error unless told otherwise;
// the event texts say what matters. Both settings hold for the whole process.
void QuietTesseract() {
  static std::once_flag once;
  std::call_once(once, [] {
    tesseract::TessBaseAPI api;
    api.SetVariable("debug_file", "/dev/null");
    setMsgSeverity(L_SEVERITY_NONE);
  });
}

// Debian's Tesseract spreads a page over several OpenMP threads. On a small
// machine shared with reception that costs far more than it gains (other
// work's threads wait, the workers spin), so the calling thread runs its
// recognition alone: no active parallel levels, for this thread only.
// Looked up at run time, as it is Tesseract's OpenMP runtime, if it has one,
// that must be told.
void RecogniseOnThisThreadOnly() {
  using SetMaxActiveLevels = void (*)(int);
  static const auto setMaxActiveLevels =
      reinterpret_cast<SetMaxActiveLevels>(::dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"));
  if (setMaxActiveLevels != nullptr) setMaxActiveLevels(0);
}

// The name becomes part of a file path inside Tesseract's data folder, so
// only names that stay inside it pass.
bool IsLanguageName(std::string_view name) {
  if (name.empty() || name.size() > kMaxLanguageName || name.front() == '/' || name.back() == '/' ||
      name.find("//") != std::string_view::npos)
    return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '/';
  });
}

std::string Joined(const std::vector<std::string>& names, const char* separator) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : separator) + name;
  return text;
}

// The words `it` holds, from the start, with their rows divided by `repeat`.
void ReadWords(tesseract::ResultIterator& it, int repeat, std::vector<PageWord>& words) {
  int lineHeight = 0;
  bool lineBaseline = false;
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // the line's baseline
  do {
    if (it.Empty(tesseract::RIL_WORD)) continue;
    if (it.IsAtBeginningOf(tesseract::RIL_TEXTLINE)) {
      int left = 0, top = 0, right = 0, bottom = 0;
      lineHeight = it.BoundingBox(tesseract::RIL_TEXTLINE, &left, &top, &right, &bottom) ? bottom - top : 0;
      lineBaseline = it.Baseline(tesseract::RIL_TEXTLINE, &x1, &y1, &x2, &y2);
    }
    PageWord word;
    if (!it.BoundingBox(tesseract::RIL_WORD, &word.left, &word.top, &word.right, &word.bottom)) continue;
    const std::unique_ptr<char[]> text(it.GetUTF8Text(tesseract::RIL_WORD));
    if (!text) continue;
    word.text = text.get();
    // Where the line's baseline runs under the middle of the word.
    const int middle = (word.left + word.right) / 2;
    word.baseline = lineBaseline && x2 != x1
                        ? y1 + static_cast<int>(static_cast<long long>(y2 - y1) * (middle - x1) / (x2 - x1))
                        : word.bottom;
    word.lineHeight = std::max(lineHeight, word.bottom - word.top) / repeat;
    word.lineEnd = it.IsAtFinalElement(tesseract::RIL_TEXTLINE, tesseract::RIL_WORD);
    word.top /= repeat;
    word.bottom = (word.bottom + repeat - 1) / repeat;
    word.baseline /= repeat;
    words.push_back(std::move(word));
  } while (it.Next(tesseract::RIL_WORD));
}

}  // namespace

struct CPageTextRecognizer::CEngine {
  tesseract::TessBaseAPI api;
};

CPageTextRecognizer::CPageTextRecognizer(const TextRecognitionOptions& options, IEventLog& log)
    : log_(log), pageTimeLimit_(options.pageTimeLimit) {
  std::vector<std::string> wanted;
  std::vector<std::string> missing;
  std::string_view rest = options.languages;
  while (!rest.empty()) {
    const std::size_t plus = rest.find('+');
    const std::string_view name = rest.substr(0, plus);
    rest = plus == std::string_view::npos ? std::string_view() : rest.substr(plus + 1);
    if (name.empty()) continue;
    (IsLanguageName(name) ? wanted : missing).emplace_back(name);
  }

  std::vector<std::string> loaded;
  if (!wanted.empty()) {
    QuietTesseract();
    auto engine = std::make_unique<CEngine>();
    if (engine->api.Init(nullptr, Joined(wanted, "+").c_str(), tesseract::OEM_LSTM_ONLY) == 0)
      engine->api.GetLoadedLanguagesAsVector(&loaded);
    if (!loaded.empty()) {
      engine->api.SetPageSegMode(tesseract::PSM_AUTO);
      engine_ = std::move(engine);
    }
  }
  for (const std::string& name : wanted)
    if (std::find(loaded.begin(), loaded.end(), name) == loaded.end()) missing.push_back(name);
  if (!missing.empty())
    log_.WriteEventText(
        "OCR language data not found: " + Joined(missing, ", ") +
        (loaded.empty() ? "; the PDF goes out without text" : "; the text is read with " + Joined(loaded, "+")));
}

CPageTextRecognizer::~CPageTextRecognizer() = default;

std::vector<PageWord> CPageTextRecognizer::Recognize(const CFaxPage& page, int pageNumber) {
  std::vector<PageWord> words;
  if (!engine_ || page.Empty()) return words;
  tesseract::TessBaseAPI& api = engine_->api;

  const int repeat = page.ResolutionY() * 3 < page.ResolutionX() * 2 ? 2 : 1;
  const std::size_t stride = page.Stride();
  pixels_.resize(stride * static_cast<std::size_t>(page.Height()) * repeat);
  unsigned char* out = pixels_.data();
  const auto white = [](std::uint8_t b) { return static_cast<unsigned char>(~b); };
  for (int y = 0; y < page.Height(); ++y)
    for (int r = 0; r < repeat; ++r) out = std::transform(page.Row(y), page.Row(y) + stride, out, white);
  api.SetImage(pixels_.data(), page.Width(), page.Height() * repeat, 0, static_cast<int>(stride));
  api.SetSourceResolution(page.ResolutionX());

  RecogniseOnThisThreadOnly();
  tesseract::ETEXT_DESC monitor;
  const auto limit =
      std::clamp<std::chrono::milliseconds::rep>(pageTimeLimit_.count(), 1, std::numeric_limits<std::int32_t>::max());
  monitor.set_deadline_msecs(static_cast<std::int32_t>(limit));
  if (api.Recognize(&monitor) != 0) {
    const std::string why = monitor.deadline_exceeded()
                                ? "text recognition stopped after " + std::to_string(limit) + " ms"
                                : std::string("text recognition failed");
    log_.WriteEventText("Page " + std::to_string(pageNumber) + ": " + why + "; the page goes out without text");
    api.Clear();
    return words;
  }

  if (const std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator()); it) ReadWords(*it, repeat, words);
  api.Clear();
  return words;
}

}  // namespace kestrel
