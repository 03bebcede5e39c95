// ServiceSettings: the service's whole configuration in one record. Members
// carry the key names every part of the service uses. Texts are UTF-8;
// numbers are signed 32-bit; flags are numbers used as 0 or non-zero.
// The record is a plain value: the application object owns it, the worker and
// the mail-queue monitor get copies.
#pragma once

#include <cstdint>
#include <string>

#include "core/image_format.h"

namespace kestrel {

struct ServiceSettings {
  // Fax
  std::string Number;        // own fax identifier (CSID)
  std::string ODBCConnect;   // ODBC connect text; must not be empty
  std::string ReceivedDir;   // folder for capture files
  std::int32_t RejectCallerID = 0;
  std::int32_t RejectStationID = 0;  // stored and edited only
  std::int32_t Logfile = 0;          // stored and edited only; the log is always written
  // MSN
  std::int32_t All = 0;      // accept every call, forward to EmailAll
  std::string EmailAll;
  // Email
  kestrel::ImageFormat ImageFormat = kestrel::ImageFormat::Jpg;
  std::int32_t ImageScaleX = 0;
  std::int32_t UseImageScale = 0;
  std::int32_t SMTPPort = 0;
  std::string Address;       // sender address
  std::string Header;        // subject template
  std::string Name;          // sender display name
  std::string SMTPServer;
  std::int32_t AuthenticationMethod = 0;
  std::string SMTP_User;
  std::string SMTP_Pass;
  std::int32_t SMTPSecurity = 0;  // SmtpSecurity: 0 none, 1 STARTTLS, 2 TLS from the first byte
  std::string SMTPCAFile;         // further trusted certificates (PEM); empty: the system's only
  // Fax PDF
  std::string OcrLanguages;  // Tesseract languages for the PDF's text layer ("deu+eng"); empty: none

  // The five values reception needs: ReceivedDir, ODBCConnect, Address, Name
  // and SMTPServer are all non-empty.
  bool IsComplete() const;

  bool operator==(const ServiceSettings&) const = default;
};

}  // namespace kestrel
