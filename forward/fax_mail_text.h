// The texts of one fax mail: subject from the template and the fixed body
// text. Pure functions of the call's data, so that the wording can be checked
// without a line, a server or a database. Nothing here fails.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "capi/fax_call_record.h"
#include "convert/fax_page.h"

namespace kestrel {

// The subject for one fax: `headerTemplate` with its first "%TSID%" (found in
// any letter case) replaced by `value`, or by "Unbekannt" when `value` is
// empty. Only the first occurrence is replaced; the rest keeps its case.
[[nodiscard]] std::string ExpandSubjectTemplate(const std::string& headerTemplate, const std::string& value);

// "Received By Kestrel v1.3.33 on <computer>.\nDate of Receiving :..." with
// "\n" line ends (the message turns them into CR LF).
[[nodiscard]] std::string FaxMailBodyText(const std::string& computerName, const FaxCallRecord& call);

// The line a fax that may lack pages carries in its mail and its journal
// row: "Incomplete: <reason>, pages after <wholePages> may be missing."
[[nodiscard]] std::string IncompleteNoteText(const std::string& reason, int wholePages);

// The line a page received with lines that could not be repaired carries in
// the mail: "Page 2 arrived with errors that could not be repaired (17 bad
// lines)." ("1 bad line"; no parenthesis when the count is not known).
[[nodiscard]] std::string DamagedPageNoteText(const DamagedPage& page);

// The same pages in one sentence for the journal row, whose text is short:
// "Pages with errors that could not be repaired: 2 (17 bad lines), 5."
[[nodiscard]] std::string DamagedPagesJournalText(const std::vector<DamagedPage>& pages);

// The note on pages the converter refused, without its end: "Pages not
// converted: 2, 5". The mail adds "; the received file is attached.", the
// journal row ".".
[[nodiscard]] std::string NotConvertedNoteText(const std::vector<int>& pages);

// The local computer's name, at most 99 characters; empty when unknown.
[[nodiscard]] std::string ComputerName();

}  // namespace kestrel
