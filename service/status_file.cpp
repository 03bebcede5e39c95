#include "service/status_file.h"

#include <cerrno>
#include <cstring>

#include <nlohmann/json.hpp>

#include "platform/bounded_file.h"

namespace kestrel {
namespace {

using nlohmann::json;

// Control characters become blanks; the text is cut at a UTF-8 boundary.
std::string Tame(std::string text) {
  if (text.size() > kMaxStatusTextLength) {
    std::size_t cut = kMaxStatusTextLength;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
  }
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return text;
}

const json* Member(const json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

void Read(const json& object, const char* key, std::int64_t& out) {
  const json* v = Member(object, key);
  if (v && v->is_number_integer()) out = v->get<std::int64_t>();
}

void Read(const json& object, const char* key, bool& out) {
  const json* v = Member(object, key);
  if (v && v->is_boolean()) out = v->get<bool>();
}

void Read(const json& object, const char* key, std::string& out) {
  const json* v = Member(object, key);
  if (v && v->is_string()) out = Tame(v->get<std::string>());
}

const json& Object(const json& object, const char* key) {
  static const json kEmpty = json::object();
  const json* v = Member(object, key);
  return v && v->is_object() ? *v : kEmpty;
}

}  // namespace

std::string StatusFilePath(const std::string& folder) { return folder + kStatusFileName; }

std::string StatusToJson(const PublishedStatus& s) {
  json out = {
      {"pid", s.pid},
      {"startedAt", s.startedAt},
      {"heartbeatAt", s.heartbeatAt},
      {"reception",
       {{"line", s.line},
        {"listening", s.listening},
        {"notListeningWhy", s.notListeningWhy},
        {"missingSettings", s.missingSettings},
        {"databaseOpen", s.databaseOpen},
        {"capiInfo", s.capiInfo},
        {"capiReason", s.capiReason},
        {"controllers", s.controllers},
        {"bChannels", s.bChannels},
        {"bChannelsInUse", s.bChannelsInUse},
        {"callsInProgress", s.callsInProgress},
        {"faxesReceived", s.faxesReceived},
        {"lastFaxAt", s.lastFaxAt}}},
      {"forwarding",
       {{"inbox", s.inbox},
        {"setAside", s.setAside},
        {"queuedMails", s.queuedMails},
        {"undeliverableMails", s.undeliverableMails},
        {"lastDeliveryError", s.lastDeliveryError},
        {"lastDeliveryErrorAt", s.lastDeliveryErrorAt}}},
      {"lastError", {{"text", s.lastError}, {"at", s.lastErrorAt}}},
  };
  if (s.sipEnabled)
    out["sip"] = {{"running", s.sipRunning},       {"registered", s.sipRegistered},
                  {"registrar", s.sipRegistrar},   {"user", s.sipUser},
                  {"expiresAt", s.sipExpiresAt},   {"failure", s.sipFailure},
                  {"callsInProgress", s.sipCalls}, {"channels", s.sipChannels}};
  if (s.oauthUsed)
    out["forwarding"]["oauth"] = {{"well", s.oauthWell}, {"expiresAt", s.oauthExpiresAt}, {"error", s.oauthError}};
  // Event texts may carry a mail server's bytes: invalid UTF-8 is replaced, not thrown on.
  return out.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
}

Result<PublishedStatus> ParseStatusJson(std::string_view bytes) {
  if (bytes.size() > kMaxStatusFileBytes) return Failure{"status file", "larger than a status file can be", 0};
  // Deeper values than the format has are dropped while parsing.
  const json::parser_callback_t shallow = [](int depth, json::parse_event_t, json&) { return depth <= 3; };
  const json root = json::parse(bytes.begin(), bytes.end(), shallow, false);
  const json* pid = Member(root, "pid");
  const json* heartbeat = Member(root, "heartbeatAt");
  if (!pid || !pid->is_number_integer() || !heartbeat || !heartbeat->is_number_integer())
    return Failure{"status file", "not a status the service wrote", 0};

  PublishedStatus s;
  Read(root, "pid", s.pid);
  Read(root, "startedAt", s.startedAt);
  Read(root, "heartbeatAt", s.heartbeatAt);
  const json& reception = Object(root, "reception");
  Read(reception, "line", s.line);
  Read(reception, "listening", s.listening);
  Read(reception, "notListeningWhy", s.notListeningWhy);
  if (const json* missing = Member(reception, "missingSettings"); missing && missing->is_array())
    for (const json& name : *missing)
      if (name.is_string() && s.missingSettings.size() < kMaxMissingSettings)
        s.missingSettings.push_back(Tame(name.get<std::string>()));
  Read(reception, "databaseOpen", s.databaseOpen);
  Read(reception, "capiInfo", s.capiInfo);
  Read(reception, "capiReason", s.capiReason);
  Read(reception, "controllers", s.controllers);
  Read(reception, "bChannels", s.bChannels);
  Read(reception, "bChannelsInUse", s.bChannelsInUse);
  Read(reception, "callsInProgress", s.callsInProgress);
  Read(reception, "faxesReceived", s.faxesReceived);
  Read(reception, "lastFaxAt", s.lastFaxAt);
  const json& forwarding = Object(root, "forwarding");
  Read(forwarding, "inbox", s.inbox);
  Read(forwarding, "setAside", s.setAside);
  Read(forwarding, "queuedMails", s.queuedMails);
  Read(forwarding, "undeliverableMails", s.undeliverableMails);
  Read(forwarding, "lastDeliveryError", s.lastDeliveryError);
  Read(forwarding, "lastDeliveryErrorAt", s.lastDeliveryErrorAt);
  if (const json& oauth = Object(forwarding, "oauth"); !oauth.empty()) {
    s.oauthUsed = true;
    Read(oauth, "well", s.oauthWell);
    Read(oauth, "expiresAt", s.oauthExpiresAt);
    Read(oauth, "error", s.oauthError);
  }
  if (const json& sip = Object(root, "sip"); !sip.empty()) {
    s.sipEnabled = true;
    Read(sip, "running", s.sipRunning);
    Read(sip, "registered", s.sipRegistered);
    Read(sip, "registrar", s.sipRegistrar);
    Read(sip, "user", s.sipUser);
    Read(sip, "expiresAt", s.sipExpiresAt);
    Read(sip, "failure", s.sipFailure);
    Read(sip, "callsInProgress", s.sipCalls);
    Read(sip, "channels", s.sipChannels);
  }
  const json& lastError = Object(root, "lastError");
  Read(lastError, "text", s.lastError);
  Read(lastError, "at", s.lastErrorAt);
  return s;
}

Result<PublishedStatus> ReadStatusFile(const std::string& folder) {
  const std::string path = StatusFilePath(folder);
  std::string bytes;
  if (!ReadBoundedFile(path, bytes, kMaxStatusFileBytes)) {
    const int error = errno;
    if (bytes.size() > kMaxStatusFileBytes) return Failure{"status file", path + " is too large", 0};
    return Failure{"status file", path + ": " + std::strerror(error), error};
  }
  return ParseStatusJson(bytes);
}

}  // namespace kestrel
