// The table of settings: one row per ServiceSettings member, with everything
// the rest of the system needs to know about it: its kestrel.xml element, its
// registry value (for the one-time migration), its type (text, number with a
// range, flag, or choice from a word list), its default, whether it is secret
// and whether a kestrel.xml may lack it. The settings file, the migration,
// kestrel-admin and the options sheet all read these rows; adding a setting
// is one row here plus its use.
//
// Values arrive as untrusted text (a file, a registry export, a command
// line); ParseSetting checks them against their row's form and fails with a
// text naming the setting and the value. What an administrator sets is
// checked further by AdmitSetting: the row's kind of value (an address, a
// file that must exist, installed languages, a folder the service keeps) and
// whether reception needs it. Failures are Status / Result values.
// The table is built once and never changes: safe from every thread; the
// admit checks read the file system (tessdata, the named files).
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/result.h"
#include "core/service_settings.h"

namespace kestrel {

enum class SettingType {
  kText,    // any text, taken as it is
  kNumber,  // a whole number within [min, max]
  kFlag,    // on or off: "TRUE" / "FALSE" in kestrel.xml
  kChoice,  // an index into the row's words, stored as its number
};

// A setting's value: the text, the number (a choice's index too), or the flag.
using SettingValue = std::variant<std::string, std::int32_t, bool>;

// Where a value is set, for the checks that look beyond its text: the
// application folder being configured and the packaged service's folder (its
// unit writes only there and gives the service a /tmp of its own).
struct SettingPlace {
  std::string_view folder{};         // with or without its trailing "/"
  std::string_view serviceFolder{};  // empty: no packaged service to consider
};

struct SettingRow;
// kestrel-admin's check of a value beyond its form, one function per kind of
// value; it fails naming the row and what the row takes.
using SettingAdmitCheck = Status (*)(const SettingRow& row, const SettingValue& value, const SettingPlace& place);

struct SettingRow {
  std::string_view member{};           // ServiceSettings' member; kestrel-admin takes it as an alias
  std::string_view element{};          // under Kestrel/Settings in kestrel.xml; empty: not in the file
  std::string_view registrySection{};  // "Fax", "MSN" or "Email" (value named as the member); empty: none
  SettingType type = SettingType::kText;
  SettingValue defaultValue{};  // for a missing registry value and a missing optional element
  std::int32_t min = std::numeric_limits<std::int32_t>::min();
  std::int32_t max = std::numeric_limits<std::int32_t>::max();
  std::span<const std::string_view> choices{};  // kChoice: the words, by index
  bool secret = false;                          // never shown or logged; scrambled in kestrel.xml
  bool optional = false;                        // kestrel.xml may lack the element (it came after the first files)
  // kText: the texts it takes beyond any (a URL, a word of a list), and how
  // DescribeAccepted puts them; nullptr: any text.
  Status (*check)(std::string_view name, std::string_view text) = nullptr;
  // What the row takes, when more than its type says (a text's kind, a
  // narrower range that kestrel-admin keeps to); empty: from the type.
  std::string_view accepts{};
  bool required = false;              // reception does not start while it is empty
  SettingAdmitCheck admit = nullptr;  // nullptr: the form is all
  std::string_view description{};     // what it is for, as kestrel.xml(5) says it
  SettingValue (*get)(const ServiceSettings&) = nullptr;
  void (*set)(ServiceSettings&, const SettingValue&) = nullptr;

  // The name users see: the element, or the member for the values not in the file.
  std::string_view Name() const { return element.empty() ? member : element; }
  bool InFile() const { return !element.empty(); }
};

// Every row, in kestrel.xml's order; the rows without an element come last.
std::span<const SettingRow> SettingRows();

// The row whose element or member is `name`, in any case; nullptr if none.
const SettingRow* FindSetting(std::string_view name);

enum class SettingSyntax {
  kFile,   // as kestrel.xml holds it: decimal numbers, "TRUE"/"FALSE", a choice's number
  kTyped,  // as an administrator types it: also any case, 1/0, yes/no, on/off, a choice's word
};

// `text` as a value of `row`, or a failure naming the setting and the value
// (a secret's value is never repeated). Blanks around numbers, flags and
// choices are allowed; a text is taken as it is.
[[nodiscard]] Result<SettingValue> ParseSetting(const SettingRow& row, std::string_view text, SettingSyntax syntax);

// `value` as kestrel.xml writes it (numbers and choices in decimal, flags as
// "TRUE"/"FALSE", texts as they are; a secret in clear, the file scrambles it).
std::string FormatSetting(const SettingRow& row, const SettingValue& value);

// A number, choice or checked text read from elsewhere (the registry) checked against the row.
[[nodiscard]] Status CheckSetting(const SettingRow& row, const SettingValue& value);
// Every value of `settings` checked against its row; the failure names each
// value that does not fit, as the file's reader would.
[[nodiscard]] Status CheckSettings(const ServiceSettings& settings);

// What the row takes, for help texts and refusals: "a number from 1 to
// 65535", "TRUE or FALSE", "0 (None), 1 (STARTTLS) or 2 (SSL/TLS)", "any text".
std::string DescribeAccepted(const SettingRow& row);

// `value`, which the row's form takes, as kestrel-admin takes it for `place`:
// not empty when reception needs it, and through the row's admit check.
[[nodiscard]] Status AdmitSetting(const SettingRow& row, const SettingValue& value, const SettingPlace& place);

// The settings reception needs that `settings` leaves empty, by name, in the
// table's order; none when it is complete.
std::vector<std::string_view> MissingSettings(const ServiceSettings& settings);

// The Tesseract languages installed here (the .traineddata files of the
// tessdata folder: TESSDATA_PREFIX, else the library's own), sorted.
std::vector<std::string> InstalledOcrLanguages();

}  // namespace kestrel
