#include "core/service_settings.h"

#include <utility>

namespace kestrel {

bool ServiceSettings::IsComplete() const {
  return !ReceivedDir.empty() && !ODBCConnect.empty() && !Address.empty() && !Name.empty() && !SMTPServer.empty();
}

std::vector<std::string> ServiceSettings::MissingSettings() const {
  std::vector<std::string> missing;
  for (const auto& [name, value] : {std::pair<const char*, const std::string*>{"ReceivedDir", &ReceivedDir},
                                    {"ODBCConnect", &ODBCConnect},
                                    {"Address", &Address},
                                    {"Name", &Name},
                                    {"SMTPServer", &SMTPServer}})
    if (value->empty()) missing.push_back(name);
  return missing;
}

}  // namespace kestrel
