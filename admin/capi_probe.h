// Whether CAPI answers, asked the way a monitoring call may ask beside a
// running service: capi20_isinstalled and capi20_get_profile only, without
// registering an application (so the service's registration is not
// disturbed). libcapi20 reads $HOME/.capi20rc (a remote CAPI) or
// /etc/capi20.conf, so the caller must run with the service user's HOME.
//
// The profile bytes come from the driver or a remote server: only the two
// counts are read from the 64-byte buffer, and at most 32 controllers are asked.
#pragma once

namespace kestrel {

struct CapiAnswer {
  bool answers = false;  // installed, and the controller count was given
  unsigned info = 0;     // the failing call's CAPI info when it does not answer
  int controllers = 0;
  int bChannels = 0;  // summed over the controllers
};

CapiAnswer ProbeCapi();

}  // namespace kestrel
