// kestreld: the Kestrel service without a desktop, for servers and systemd.
#include <cstdio>
#include <cstring>

#include "core/version.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Kestrel %s\n", kestrel::kProductVersion);
      return 0;
    }
  }
  std::fprintf(stderr, "usage: kestreld --version\n");
  return 2;
}
