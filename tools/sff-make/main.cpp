// sff-make: writes an SFF file from 1-bit PBM images, one page per image.
//   sff-make [--normal] [--version N] [--no-white-skips] [--illegal PAGE:ROW]
//            [--corrupt PAGE:ROW] [--user-info PAGE:ROW:TEXT] -o OUT.sff PAGE.pbm...
// Pages and rows count from 1 and 0. Fine resolution unless --normal.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "tools/sff-make/sff_maker.h"

namespace {

using kestrel::tools::RowFault;
using kestrel::tools::SffMakePage;

int Usage() {
  std::fprintf(stderr,
               "usage: sff-make [--normal] [--version N] [--no-white-skips] [--illegal PAGE:ROW]\n"
               "                [--corrupt PAGE:ROW] [--user-info PAGE:ROW:TEXT] -o OUT.sff PAGE.pbm...\n");
  return 2;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// "PAGE:ROW[:TEXT]"
void ParsePlace(const std::string& arg, unsigned& page, unsigned& row, std::string* text) {
  std::size_t a = arg.find(':');
  if (a == std::string::npos) throw std::runtime_error("expected PAGE:ROW, got " + arg);
  std::size_t b = text ? arg.find(':', a + 1) : std::string::npos;
  if (text && b == std::string::npos) throw std::runtime_error("expected PAGE:ROW:TEXT, got " + arg);
  page = static_cast<unsigned>(std::stoul(arg.substr(0, a)));
  row = static_cast<unsigned>(std::stoul(arg.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1)));
  if (text) *text = arg.substr(b + 1);
  if (page == 0) throw std::runtime_error("pages count from 1");
}

struct Placed {
  unsigned page;
  unsigned row;
  RowFault fault;
  std::string text;
  bool isText;
};

}  // namespace

int main(int argc, char** argv) {
  try {
    kestrel::tools::SffMakeOptions options;
    std::string output;
    std::vector<std::string> inputs;
    std::vector<Placed> placed;
    bool whiteSkips = true;
    for (int i = 1; i < argc; ++i) {
      std::string a = argv[i];
      auto value = [&]() -> std::string {
        if (i + 1 >= argc) throw std::runtime_error(a + " needs a value");
        return argv[++i];
      };
      if (a == "--normal") {
        options.fine = false;
      } else if (a == "--fine") {
        options.fine = true;
      } else if (a == "--version") {
        options.version = static_cast<std::uint8_t>(std::stoul(value()));
      } else if (a == "--no-white-skips") {
        whiteSkips = false;
      } else if (a == "--illegal" || a == "--corrupt") {
        Placed p{0, 0, a == "--illegal" ? RowFault::kIllegalLine : RowFault::kCorruptCode, {}, false};
        ParsePlace(value(), p.page, p.row, nullptr);
        placed.push_back(p);
      } else if (a == "--user-info") {
        Placed p{0, 0, RowFault::kIllegalLine, {}, true};
        ParsePlace(value(), p.page, p.row, &p.text);
        placed.push_back(p);
      } else if (a == "-o") {
        output = value();
      } else if (!a.empty() && a[0] == '-') {
        return Usage();
      } else {
        inputs.push_back(a);
      }
    }
    if (output.empty() || inputs.empty()) return Usage();
    std::vector<SffMakePage> pages;
    for (const std::string& in : inputs) {
      SffMakePage page;
      page.image = kestrel::tools::ReadPbm(ReadFile(in));
      page.whiteSkips = whiteSkips;
      pages.push_back(std::move(page));
    }
    for (const Placed& p : placed) {
      if (p.page > pages.size()) throw std::runtime_error("no page " + std::to_string(p.page));
      SffMakePage& page = pages[p.page - 1];
      if (p.isText)
        page.userInfo.emplace(p.row, p.text);
      else
        page.faults[p.row] = p.fault;
    }
    const std::string sff = kestrel::tools::MakeSffFile(pages, options);
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    if (!out.write(sff.data(), static_cast<std::streamsize>(sff.size())) || !out.flush())
      throw std::runtime_error("cannot write " + output);
    std::printf("%zu page(s), %zu bytes\n", pages.size(), sff.size());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sff-make: %s\n", e.what());
    return 1;
  }
}
