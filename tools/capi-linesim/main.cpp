// capi-linesim: a simulated ISDN line for libcapi20's remote CAPI, for tests
// and the demo. Listens on loopback, plays the network and the remote fax
// machines from commands (a script file, then standard input), and records
// every message it exchanges, decoded, one line each.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/capi-linesim/line_simulator.h"

namespace {

const char kUsage[] =
    "usage: capi-linesim [options]\n"
    "  --port N            listen on 127.0.0.1:N (default: a free port)\n"
    "  --port-file FILE    write the port there once listening (else it is printed)\n"
    "  --record FILE       record of the exchange (default: standard output)\n"
    "  --script FILE       commands to run before those on standard input\n"
    "  --no-stdin          ignore standard input\n"
    "  --exit-on-eof       end when standard input closes\n"
    "  --applid-base N     first ApplID handed out (default 1)\n"
    "  --controllers N     controllers in the profile (default 1)\n"
    "  --bchannels N       B-channels per controller (default 2)\n"
    "commands, one a line:\n"
    "  call NAME [called=DIGITS|called-raw=HEX] [caller=DIGITS|caller-raw=HEX] [cip=N]\n"
    "       [controller=N] [sff=FILE|data=HEX|size=N] [block=N] [rate=N] [pages=N] [id=TEXT]\n"
    "       [ncpi=HEX|none] [hangup=alert|answer|active|b3|data:K|never|end] [reason=N]\n"
    "       [ring-timeout=MS] [empty-block-at=K] [data64=1] [info-ind=1] [burst=1]\n"
    "  hangup NAME [reason=N]      the sender clears the call now\n"
    "  set conf-info COMMAND INFO  Info of that confirmation (LISTEN, ALERT, INFO, DISCONNECT,\n"
    "                              CONNECT_B3, DISCONNECT_B3, DATA_B3)\n"
    "  set register-info INFO      refuse REGISTER with INFO (0 accepts again)\n"
    "  set controllers N | set bchannels N\n"
    "  raw HEX                     send a CAPI message as given on the newest application\n"
    "  drop | resume               close every connection and stop listening | listen again\n"
    "  wait TEXT | sleep MS | quit\n";

bool IntArg(int argc, char** argv, int& i, int& out) {
  if (i + 1 >= argc) return false;
  char* end = nullptr;
  long v = std::strtol(argv[++i], &end, 0);
  if (!end || *end) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  linesim::SimOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool ok = true;
    if (a == "--port")
      ok = IntArg(argc, argv, i, options.port);
    else if (a == "--port-file" && i + 1 < argc)
      options.portFile = argv[++i];
    else if (a == "--record" && i + 1 < argc)
      options.recordFile = argv[++i];
    else if (a == "--script" && i + 1 < argc)
      options.scriptFile = argv[++i];
    else if (a == "--no-stdin")
      options.readStdin = false;
    else if (a == "--exit-on-eof")
      options.exitOnEof = true;
    else if (a == "--applid-base")
      ok = IntArg(argc, argv, i, options.applIdBase);
    else if (a == "--controllers")
      ok = IntArg(argc, argv, i, options.controllers);
    else if (a == "--bchannels")
      ok = IntArg(argc, argv, i, options.bChannels);
    else if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else
      ok = false;
    if (!ok) {
      std::fprintf(stderr, "capi-linesim: bad argument %s\n%s", a.c_str(), kUsage);
      return 2;
    }
  }
  if (options.applIdBase < 1 || options.applIdBase > 1023) {
    std::fprintf(stderr, "capi-linesim: --applid-base must be 1..1023\n");
    return 2;
  }
  linesim::CLineSimulator sim(options);
  return sim.Run();
}
