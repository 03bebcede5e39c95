// CSipPage: the "SIP" page of the options sheet: whether the SIP line runs,
// where it registers and as whom (the password entered like the mail
// login's, never shown), its transport and local ports, whether it offers
// T.38, the peers whose calls it takes and how many calls it holds at once.
// Every field below the first box can be edited only with the line on.
//
// Store refuses a port or call count outside its row's range and a
// registrar, port range or peer list its row does not take (COptionsPage),
// naming the setting. User-interface thread only.
#pragma once

#include "ui/options_page.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;

namespace kestrel {

class CDigitsEdit;

class CSipPage : public COptionsPage {
  Q_OBJECT

 public:
  explicit CSipPage(QWidget* parent = nullptr);

  void Load(const ServiceSettings& settings) override;
  bool Store(ServiceSettings& settings) override;

 private:
  void UpdateEnabledFields();

  QCheckBox* enabled_;
  QGroupBox* registrationBox_;
  QGroupBox* callsBox_;
  QLineEdit* registrar_;
  QLineEdit* user_;
  QLineEdit* authUser_;
  QLineEdit* password_;
  QComboBox* transport_;
  CDigitsEdit* port_;
  QLineEdit* rtpPorts_;
  QCheckBox* t38_;
  QLineEdit* peers_;
  CDigitsEdit* channels_;
};

}  // namespace kestrel
