// ServiceSettings: the service's whole configuration in one record. Members
// carry the key names every part of the service uses; core/setting_table.h
// describes each (its kestrel.xml element, type, range and default). Texts
// are UTF-8.
// The record is a plain value: the application object owns it, the worker and
// the mail-queue monitor get copies. Nothing here can fail.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/image_format.h"
#include "core/setting_choices.h"

namespace kestrel {

struct ServiceSettings {
  // Fax
  std::string Number;       // own fax identifier (CSID)
  std::string ODBCConnect;  // ODBC connect text; must not be empty
  std::string ReceivedDir;  // folder for capture files
  bool RejectCallerID = false;
  bool RejectStationID = false;  // stored and edited only
  bool Logfile = false;          // stored and edited only; the log is always written
  // MSN
  bool All = false;  // accept every call, forward to EmailAll
  std::string EmailAll;
  // Email
  kestrel::ImageFormat ImageFormat = kestrel::ImageFormat::Jpg;
  std::int32_t ImageScaleX = 0;
  bool UseImageScale = false;
  std::int32_t SMTPPort = kDefaultSmtpPort;
  std::string Address;  // sender address
  std::string Header;   // subject template
  std::string Name;     // sender display name
  std::string SMTPServer;
  SmtpAuthentication AuthenticationMethod = SmtpAuthentication::None;
  std::string SMTP_User;
  std::string SMTP_Pass;
  SmtpSecurity SMTPSecurity = SmtpSecurity::None;
  std::string SMTPCAFile;  // further trusted certificates (PEM); empty: the system's only
  // Fax PDF
  std::string OcrLanguages;  // Tesseract languages for the PDF's text layer ("deu+eng"); empty: none
  // OAuth 2.0 sign-in (AuthenticationMethod OAuth); an empty text takes the provider's value
  kestrel::OAuthProvider OAuthProvider = kestrel::OAuthProvider::Custom;
  std::string OAuthTenant = "organizations";  // microsoft: the directory's name or id
  std::string OAuthClientId;
  std::string OAuthClientSecret;  // secret; empty for public clients
  std::string OAuthScope;
  std::string OAuthGrant;  // device, code or client
  std::string OAuthTokenUrl;
  std::string OAuthDeviceUrl;
  std::string OAuthAuthorizeUrl;
  // SIP line: registers at SipRegistrar (if any) and takes fax calls over G.711
  bool SipEnabled = false;
  std::string SipRegistrar;  // host or host:port; empty: no registration
  std::string SipUser;
  std::string SipAuthUser;  // empty: SipUser
  std::string SipPassword;  // secret
  kestrel::SipTransport SipTransport = kestrel::SipTransport::Udp;
  std::int32_t SipPort = 5060;  // local
  std::string SipRtpPorts = "20000-20199";
  bool SipT38 = true;
  std::string SipPeers;          // addresses, CIDRs or host names whose INVITEs are taken, comma separated
  std::int32_t SipChannels = 4;  // simultaneous calls
  // CAPI line: calls at once; 0 one per B-channel, 1 one at a time, N at most N
  std::int32_t CapiCalls = 0;
  // The name the journal gives this node's faxes; empty: the host name
  std::string NodeName;

  // The values reception needs (the settings table's required rows:
  // ReceivedDir, ODBCConnect, Address, Name and SMTPServer) are all non-empty.
  bool IsComplete() const;

  bool operator==(const ServiceSettings&) const = default;
};

// What a new folder starts with, in the desktop's first-run sheet and in a
// folder set up by kestrel-admin alike: STARTTLS and one PDF per fax.
void ProposeFirstRunValues(ServiceSettings& settings);

}  // namespace kestrel
