// Asking libcapi20 for its controllers and B-channels: isinstalled, then
// the profile of controller 0 (the count) and of each controller.
#include "admin/capi_probe.h"

#include <capi20.h>

namespace kestrel {
namespace {

constexpr int kMaxControllers = 32;

int LittleEndian16(const unsigned char* p) { return p[0] | (p[1] << 8); }

}  // namespace

CapiAnswer ProbeCapi() {
  CapiAnswer answer;
  // The library's default traces every step on standard error; a TRACELEVEL
  // line in the configuration still wins.
  capi20ext_set_tracelevel(0);
  answer.info = capi20_isinstalled();
  if (answer.info != CapiNoError) return answer;
  unsigned char profile[64] = {};
  answer.info = capi20_get_profile(0, profile);
  if (answer.info != CapiNoError) return answer;
  answer.answers = true;
  answer.controllers = LittleEndian16(profile);
  for (int c = 1; c <= answer.controllers && c <= kMaxControllers; ++c) {
    unsigned char one[64] = {};
    if (capi20_get_profile(static_cast<unsigned>(c), one) == CapiNoError) answer.bChannels += LittleEndian16(one + 2);
  }
  return answer;
}

}  // namespace kestrel
