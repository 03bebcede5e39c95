// The option pages' form helpers: one QFormLayout per group, one label column
// across groups, numeric fields as wide as their digits.
#include "ui/form_layout.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>

namespace kestrel {

QFormLayout* GroupForm(QGroupBox* box) {
  auto* form = new QFormLayout(box);
  form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
  form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  form->setRowWrapPolicy(QFormLayout::DontWrapRows);
  return form;
}

void AddFormRow(QFormLayout* form, const QString& label, QWidget* field) {
  auto* l = new QLabel(label, form->parentWidget());
  l->setBuddy(field);
  form->addRow(l, field);
}

void AddFormRow(QFormLayout* form, const QString& label, QLayout* fields, QWidget* buddy) {
  auto* l = new QLabel(label, form->parentWidget());
  l->setBuddy(buddy);
  form->addRow(l, fields);
}

void AlignFormLabels(std::initializer_list<QFormLayout*> forms) {
  int widest = 0;
  const auto eachLabel = [&](auto action) {
    for (QFormLayout* form : forms)
      for (int row = 0; row < form->rowCount(); ++row)
        if (QLayoutItem* item = form->itemAt(row, QFormLayout::LabelRole))
          if (item->widget()) action(item->widget());
  };
  eachLabel([&](QWidget* label) { widest = std::max(widest, label->sizeHint().width()); });
  eachLabel([&](QWidget* label) { label->setMinimumWidth(widest); });
}

void SizeToDigits(QLineEdit* edit, int digits) {
  const int text = edit->fontMetrics().horizontalAdvance(QString(digits, QLatin1Char('0')));
  edit->setMaximumWidth(text + 4 * edit->fontMetrics().averageCharWidth());
  edit->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

}  // namespace kestrel
