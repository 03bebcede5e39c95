#include "tests/convert/page_render.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace kestrel::test {
namespace {

using tools::CMonoBitmap;

// 5 x 7 glyphs, one string of 35 cells per character ('#' = ink).
struct Glyph {
  char c;
  const char* rows[7];
};

const Glyph kFont[] = {
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
    {'C', {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."}},
    {'D', {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'F', {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
    {'G', {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"}},
    {'H', {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'I', {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'J', {"..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."}},
    {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'N', {"#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'Q', {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'V', {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
    {'W', {"#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
    {'Y', {"#...#", "#...#", "#...#", ".#.#.", "..#..", "..#..", "..#.."}},
    {'Z', {"#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"}},
    {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
    {'1', {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
    {'3', {"#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."}},
    {'4', {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
    {'5', {"#####", "#....", "####.", "....#", "....#", "#...#", ".###."}},
    {'6', {"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."}},
    {'7', {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."}},
    {'8', {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."}},
    {'9', {".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."}},
    {'.', {".....", ".....", ".....", ".....", ".....", ".##..", ".##.."}},
    {',', {".....", ".....", ".....", ".....", ".##..", "..#..", ".#..."}},
    {':', {".....", ".##..", ".##..", ".....", ".##..", ".##..", "....."}},
    {'-', {".....", ".....", ".....", "#####", ".....", ".....", "....."}},
    {'/', {"....#", "....#", "...#.", "..#..", ".#...", "#....", "#...."}},
    {'@', {".###.", "#...#", "#.###", "#.#.#", "#.###", "#....", ".###."}},
    {'&', {".##..", "#..#.", "#.#..", ".#...", "#.#.#", "#..#.", ".##.#"}},
    {'+', {".....", "..#..", "..#..", "#####", "..#..", "..#..", "....."}},
};

const Glyph* Find(char c) {
  for (const Glyph& g : kFont)
    if (g.c == c) return &g;
  return nullptr;
}

const char* const kWords[] = {
    "THANK",   "YOU",       "FOR",      "YOUR",    "ORDER",     "OF",       "THE",     "DELIVERY", "WILL",
    "ARRIVE",  "ON",        "MONDAY",   "PLEASE",  "FIND",      "ENCLOSED", "INVOICE", "NUMBER",   "AND",
    "PAYMENT", "TERMS",     "WITHIN",   "30",      "DAYS",      "NET",      "WE",      "CONFIRM",  "PRICES",
    "AS",      "AGREED",    "IN",       "OUR",     "MEETING",   "LAST",     "WEEK",    "QUANTITY", "TOTAL",
    "EUR",     "1.250,00",  "SHIPPING", "TO",      "WAREHOUSE", "GATE",     "4",       "CONTACT",  "IF",
    "ANY",     "QUESTIONS", "ARISE",    "REGARDS", "SINCERELY", "FAX",      "PHONE",   "+49",      "30/1234-567",
};

void Circle(CMonoBitmap& image, int cx, int cy, int r, bool black) {
  for (int y = -r; y <= r; ++y)
    for (int x = -r; x <= r; ++x)
      if (x * x + y * y <= r * r && cx + x >= 0 && cy + y >= 0)
        image.Set(static_cast<std::uint32_t>(cx + x), static_cast<std::uint32_t>(cy + y), black);
}

// A pen stroke along a smooth curve.
void Stroke(CMonoBitmap& image, double x0, double y0, double x1, double y1, double bend, int pen) {
  const int steps = 200;
  for (int i = 0; i <= steps; ++i) {
    const double t = static_cast<double>(i) / steps;
    const double x = x0 + (x1 - x0) * t;
    const double y = y0 + (y1 - y0) * t + bend * std::sin(t * 3.14159265358979);
    FillRect(image, static_cast<int>(x) - pen / 2, static_cast<int>(y) - pen / 2, pen, pen);
  }
}

}  // namespace

void FillRect(CMonoBitmap& image, int x, int y, int w, int h) {
  for (int yy = std::max(0, y); yy < y + h && yy < static_cast<int>(image.height); ++yy)
    for (int xx = std::max(0, x); xx < x + w && xx < static_cast<int>(image.width); ++xx)
      image.Set(static_cast<std::uint32_t>(xx), static_cast<std::uint32_t>(yy));
}

void DrawText(CMonoBitmap& image, int x, int y, const std::string& text, int sx, int sy, bool bold) {
  for (char ch : text) {
    const bool lower = std::islower(static_cast<unsigned char>(ch)) != 0;
    const Glyph* g = Find(static_cast<char>(std::toupper(static_cast<unsigned char>(ch))));
    if (g != nullptr) {
      // Small letters: the capital drawn five rows high, sitting on the line.
      static const int kAll[] = {0, 1, 2, 3, 4, 5, 6};
      static const int kSmall[] = {0, 2, 3, 5, 6};
      const int* rows = lower ? kSmall : kAll;
      const int count = lower ? 5 : 7;
      const int top = y + (7 - count) * sy;
      for (int r = 0; r < count; ++r)
        for (int c = 0; c < 5; ++c)
          if (g->rows[rows[r]][c] == '#') FillRect(image, x + c * sx, top + r * sy, sx + (bold ? 1 : 0), sy);
    }
    x += 6 * sx;
  }
}

CMonoBitmap RenderLetterPage(std::uint32_t width, std::uint32_t height, std::uint32_t seed) {
  CMonoBitmap page(width, height);
  std::mt19937 rng(seed);
  const int w = static_cast<int>(width);
  const int h = static_cast<int>(height);
  const int margin = w / 10;

  // Letterhead: a round logo with a white ring, the company name, a heavy rule.
  Circle(page, margin + 60, 150, 64, true);
  Circle(page, margin + 60, 150, 44, false);
  Circle(page, margin + 60, 150, 30, true);
  DrawText(page, margin + 160, 100, "BRIGHTWATER TRADING", 8, 9, true);
  DrawText(page, margin + 160, 185, "Harbour Road 12 - 20457 Hamburg - Fax +49 40 555-0199", 2, 3);
  FillRect(page, margin, 240, w - 2 * margin, 8);

  // Address block and date.
  const char* const address[] = {"Kestrel Supplies Ltd", "attn: Purchasing", "Unit 7, Mill Lane", "Bristol BS1 4QT"};
  int y = 320;
  for (const char* line : address) {
    DrawText(page, margin, y, line, 3, 3);
    y += 32;
  }
  DrawText(page, w - margin - 6 * 3 * 10, 320, "07.12.2026", 3, 3);
  y += 40;
  DrawText(page, margin, y, "Subject: Order 4711 / Invoice 2026-0815", 3, 3, true);
  y += 70;

  // Body text: words set in lines up to the right margin, with a little
  // jitter in the baseline as a scanner would give.
  std::uniform_int_distribution<int> word(0, static_cast<int>(sizeof(kWords) / sizeof(kWords[0])) - 1);
  std::uniform_int_distribution<int> jitter(-1, 1);
  for (int line = 0; line < 22 && y < h / 2 + 200; ++line) {
    int x = margin;
    while (true) {
      std::string wd = kWords[word(rng)];
      if (rng() % 3 == 0)
        for (std::size_t i = 1; i < wd.size(); ++i)
          wd[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(wd[i])));
      const int wordWidth = static_cast<int>(wd.size()) * 18;
      if (x + wordWidth > w - margin) break;
      DrawText(page, x, y + jitter(rng), wd, 3, 3);
      x += wordWidth + 18;
    }
    y += line % 6 == 5 ? 60 : 32;
  }

  // A table: 5 columns, 8 rows, 2-pixel rules, figures in the cells.
  y += 30;
  const int tableWidth = w - 2 * margin;
  const int columns = 5, rowsInTable = 8, cellHeight = 40;
  const int colWidth = tableWidth / columns;
  for (int r = 0; r <= rowsInTable; ++r) FillRect(page, margin, y + r * cellHeight, tableWidth, r == 1 ? 4 : 2);
  for (int c = 0; c <= columns; ++c) FillRect(page, margin + c * colWidth, y, 2, rowsInTable * cellHeight + 2);
  const char* const heads[] = {"Item", "Part no", "Qty", "Price", "Total"};
  for (int c = 0; c < columns; ++c) DrawText(page, margin + c * colWidth + 10, y + 12, heads[c], 2, 3, true);
  for (int r = 1; r < rowsInTable; ++r)
    for (int c = 0; c < columns; ++c)
      DrawText(page, margin + c * colWidth + 10, y + r * cellHeight + 12, std::to_string((rng() % 90000) + 10 * r + c),
               2, 3);
  y += rowsInTable * cellHeight + 80;

  // Closing and a signature of a few pen strokes.
  DrawText(page, margin, y, "Yours sincerely", 3, 3);
  y += 60;
  Stroke(page, margin, y + 40, margin + 120, y + 10, -30, 3);
  Stroke(page, margin + 120, y + 10, margin + 200, y + 50, 25, 3);
  Stroke(page, margin + 200, y + 50, margin + 330, y + 20, -20, 4);
  Stroke(page, margin + 330, y + 20, margin + 420, y + 45, 15, 3);
  Stroke(page, margin - 10, y + 70, margin + 440, y + 62, 6, 2);
  y += 110;
  DrawText(page, margin, y, "J. Smith, Sales", 3, 3);

  // Footer.
  FillRect(page, margin, h - 140, w - 2 * margin, 2);
  DrawText(page, margin, h - 120, "Brightwater Trading GmbH - Registered Hamburg HRB 12345 - VAT DE123456789", 2, 2);

  // Scanner noise: specks all over, a dirty band, and a black edge at the foot.
  std::uniform_int_distribution<int> px(0, w - 1), py(0, h - 1);
  for (int i = 0; i < 1500; ++i) {
    const int sx = px(rng), sy = py(rng);
    FillRect(page, sx, sy, 1 + static_cast<int>(rng() % 3), 1 + static_cast<int>(rng() % 2));
  }
  for (int yy = h - 60; yy < h - 40 && yy >= 0; ++yy)
    for (int xx = 0; xx < w; ++xx)
      if (rng() % 7 == 0) page.Set(static_cast<std::uint32_t>(xx), static_cast<std::uint32_t>(yy));
  FillRect(page, 0, h - 6, w, 6);
  FillRect(page, 0, 0, 12, h / 3);  // the sender's feed edge
  return page;
}

CMonoBitmap HalveRows(const CMonoBitmap& fine) {
  CMonoBitmap normal(fine.width, (fine.height + 1) / 2);
  for (std::uint32_t y = 0; y < normal.height; ++y) std::memcpy(normal.Row(y), fine.Row(y * 2), fine.RowBytes());
  return normal;
}

}  // namespace kestrel::test
