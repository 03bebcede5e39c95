#include "ui/forwarding_page.h"

#include <QLabel>
#include <QVBoxLayout>

#include "desktop/report_list.h"
#include "ui/forwarding_table_editor.h"

namespace kestrel {

CForwardingPage::CForwardingPage(QWidget* parent) : COptionsPage(QStringLiteral("Forwarding"), parent) {
  auto* label = new QLabel(QStringLiteral("Forward faxes with following Caller IDs to these email addresses:"), this);
  label->setWordWrap(true);
  table_ = new CForwardingTableEditor(ForwardingTable::kTsid, this);
  label->setBuddy(table_->List());
  auto* page = new QVBoxLayout(this);
  page->addWidget(label);
  page->addWidget(table_, 1);
}

void CForwardingPage::SetConnection(COdbcConnection* administration) { table_->SetConnection(administration); }

void CForwardingPage::Load(const ServiceSettings&) { table_->Fill(); }

bool CForwardingPage::Store(ServiceSettings&) { return true; }

CReportList* CForwardingPage::List() const { return table_->List(); }

}  // namespace kestrel
