// The table-driven decoder looks each state's codes up in one table indexed by
// the next 9 (white) or 13 (black) bits, which gives the one code of that
// colour that is a prefix of those bits. The code lists of a colour are
// prefix-free, so this is the entry a search in table order finds; a make-up
// entry counts as no match where only a terminating code may follow.
#include "convert/line_decoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "convert/bit_reader.h"
#include "convert/row_bit_writer.h"
#include "convert/sff_error.h"

namespace kestrel {
namespace {

enum class State : std::uint8_t { kWhite, kBlack, kWhiteTerm, kBlackTerm };

enum Kind : std::uint8_t { kNone = 0, kTerminating = 1, kMakeUp = 2 };

struct FastCode {
  std::uint16_t run = 0;
  std::uint8_t length = 0;
  std::uint8_t kind = kNone;
};

constexpr unsigned kWhiteBits = 9;
constexpr unsigned kBlackBits = 13;

struct FastTables {
  std::array<FastCode, 1u << kWhiteBits> white{};
  std::array<FastCode, 1u << kBlackBits> black{};
};

template <std::size_t N>
void Enter(std::array<FastCode, N>& table, unsigned bits, const MHCodeEntry* codes, Kind kind) {
  for (const MHCodeEntry* e = codes; e->code != 0; ++e)
    for (unsigned high = 0; high < (1u << (bits - e->length)); ++high)
      table[e->code | (high << e->length)] = FastCode{e->run, static_cast<std::uint8_t>(e->length), kind};
}

FastTables BuildTables() {
  FastTables t;
  Enter(t.white, kWhiteBits, kWhiteTerminatingCodes, kTerminating);
  Enter(t.white, kWhiteBits, kWhiteMakeUpCodes, kMakeUp);
  Enter(t.black, kBlackBits, kBlackTerminatingCodes, kTerminating);
  Enter(t.black, kBlackBits, kBlackMakeUpCodes, kMakeUp);
  return t;
}

// Built on first use, so that no other start-up code can meet it unbuilt.
const FastTables& Tables() {
  static const FastTables tables = BuildTables();
  return tables;
}

// Bits each state makes the reader buffer before its look-up.
constexpr unsigned kFillBits[] = {9, 13, 8, 12};
constexpr SffError kErrors[] = {SffError::kNoWhiteCode, SffError::kNoBlackCode, SffError::kWhiteMakeUpNoTerm,
                                SffError::kBlackMakeUpNoTerm};

// Both decoders answer 0 or the SffError of the fault, and leave the pixels
// decoded before it in the row.
int Decode(CBitReader& reader, CRowBitWriter& writer) {
  // The stream: the bits the reader has buffered, then its remaining bytes.
  const std::uint8_t* next = reader.NextByte();
  const std::uint8_t* const end = next + reader.BytesLeft();
  std::uint64_t acc = reader.BitBuffer() & ((std::uint64_t{1} << reader.BitCount()) - 1);
  int accBits = reader.BitCount();
  const std::int64_t total = reader.BitCount() + 8 * static_cast<std::int64_t>(reader.BytesLeft());
  std::int64_t pos = 0;  // bits consumed

  std::uint8_t* const row = writer.Row();
  const std::size_t limit = writer.Bytes() * 8;
  std::size_t x = writer.Position();
  const FastTables& tables = Tables();
  State state = State::kWhite;
  // Whether the reader would have loaded every byte by now: from then on the
  // line ends where no complete code is left instead of failing.
  bool allLoaded = false;

  for (;;) {
    if (accBits < 16) {
      if (end - next >= 8) {
        std::uint64_t word;
        std::memcpy(&word, next, 8);
        acc |= word << accBits;
        next += (63 - accBits) >> 3;
        accBits |= 56;
      } else {
        while (accBits <= 56 && next < end) {
          acc |= static_cast<std::uint64_t>(*next++) << accBits;
          accBits += 8;
        }
      }
    }
    const bool white = state == State::kWhite || state == State::kWhiteTerm;
    const FastCode code =
        white ? tables.white[acc & ((1u << kWhiteBits) - 1)] : tables.black[acc & ((1u << kBlackBits) - 1)];
    const bool fits =
        code.kind == kTerminating || (code.kind == kMakeUp && (state == State::kWhite || state == State::kBlack));
    if (!allLoaded) {
      allLoaded = pos + kFillBits[static_cast<int>(state)] + 8 > total;
      if (!fits) {
        writer.SetPosition(x);
        return static_cast<int>(kErrors[static_cast<int>(state)]);
      }
    } else if (!fits || code.length > total - pos) {
      break;
    }
    pos += code.length;
    acc >>= code.length;
    accBits = accBits > code.length ? accBits - code.length : 0;

    if (!white) CRowBitWriter::PaintSpan(row, limit, x, code.run);
    x += code.run;
    if (code.kind == kMakeUp)
      state = white ? State::kWhiteTerm : State::kBlackTerm;
    else
      state = white ? State::kBlack : State::kWhite;
  }
  writer.SetPosition(x);
  return 0;
}

int DecodeBySearch(CBitReader& reader, CRowBitWriter& writer) {
  State state = State::kWhite;
  bool first = true;
  for (;;) {
    // Every step runs in full while bytes remain (and the first always does);
    // after that only complete codes are taken, and none ends the line.
    const bool loading = first || reader.BytesLeft() > 0;
    first = false;
    if (loading) reader.Fill(kFillBits[static_cast<int>(state)]);
    auto look = [&](const MHCodeEntry* table) { return loading ? reader.LookUp(table) : reader.LookUpComplete(table); };
    int run = -1;
    State nextState = state;
    switch (state) {
      case State::kWhite:
        if ((run = look(kWhiteTerminatingCodes)) >= 0) {
          nextState = State::kBlack;
        } else if ((run = look(kWhiteMakeUpCodes)) >= 0) {
          nextState = State::kWhiteTerm;
        }
        break;
      case State::kBlack:
        if ((run = look(kBlackTerminatingCodes)) >= 0) {
          nextState = State::kWhite;
        } else if ((run = look(kBlackMakeUpCodes)) >= 0) {
          nextState = State::kBlackTerm;
        }
        break;
      case State::kWhiteTerm:
        if ((run = look(kWhiteTerminatingCodes)) >= 0) nextState = State::kBlack;
        break;
      case State::kBlackTerm:
        if ((run = look(kBlackTerminatingCodes)) >= 0) nextState = State::kWhite;
        break;
    }
    if (run < 0) return loading ? static_cast<int>(kErrors[static_cast<int>(state)]) : 0;
    if (state == State::kBlack || state == State::kBlackTerm)
      writer.Paint(static_cast<std::size_t>(run));
    else
      writer.Skip(static_cast<std::size_t>(run));
    state = nextState;
  }
}

// The step of a line's failure; only built for a failure, as lines are many.
std::string LineStep(SffLinePlace place) {
  return "Page " + std::to_string(place.page) + ", line " + std::to_string(place.line);
}

Status DecodeRecord(int (*decode)(CBitReader&, CRowBitWriter&), const SffRecord& record, SffLinePlace place,
                    std::uint8_t* row, std::size_t size) {
  if (record.type != SffRecordType::CodedLine)
    return Status::Failed(LineStep(place), "The record is not a coded line.", -1);
  std::memset(row, 0, size);
  CBitReader reader(record.data.data(),
                    static_cast<std::uint32_t>(std::min<std::size_t>(record.count, record.data.size())));
  CRowBitWriter writer(row, size);
  if (const int error = decode(reader, writer)) return SffFailure(static_cast<SffError>(error), LineStep(place));
  return {};
}

}  // namespace

Status DecodeLine(const SffRecord& record, SffLinePlace place, std::uint8_t* row, std::size_t size) {
  return DecodeRecord(Decode, record, place, row, size);
}

Status DecodeLineBySearch(const SffRecord& record, SffLinePlace place, std::uint8_t* row, std::size_t size) {
  return DecodeRecord(DecodeBySearch, record, place, row, size);
}

}  // namespace kestrel
