// settings-manual PAGE: prints PAGE (kestrel.xml(5) in scdoc) with its
// SETTINGS section written from the settings table. The page is our own
// source file; it is read whole.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tools/settings-manual/settings_manual.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: settings-manual PAGE\n", stderr);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "settings-manual: cannot read %s\n", argv[1]);
    return 1;
  }
  std::ostringstream page;
  page << in.rdbuf();
  std::cout << kestrel::WithSettingsManualSection(page.str());
  return std::cout.good() ? 0 : 1;
}
