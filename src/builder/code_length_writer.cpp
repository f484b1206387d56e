#include "builder/code_length_writer.h"

#include "builder/huffman.h"
#include "codec/format.h"

namespace builder {
namespace {

constexpr uint32_t kZeroRunOne = format::kZeroRunSymbol, kZeroRunTwo = format::kZeroRunSymbol + 1;
constexpr uint32_t kRepeatRunOne = format::kRepeatRunSymbol;
constexpr uint32_t kRepeatRunTwo = format::kRepeatRunSymbol + 1;
// The code-length alphabet is kept to one lookup of the decoder's 6-bit table.
constexpr uint32_t kCodeLengthLimit = 6;

// A run length as digits 1 and 2 of rising weight (1, 2, 4, ...), lowest first.
void append_run(std::vector<uint8_t>& symbols, uint32_t run, uint32_t digit_one,
                uint32_t digit_two) {
  while (run > 0) {
    if (run & 1) {
      symbols.push_back(static_cast<uint8_t>(digit_one));
      run = (run - 1) / 2;
    } else {
      symbols.push_back(static_cast<uint8_t>(digit_two));
      run = (run - 2) / 2;
    }
  }
}

}  // namespace

void write_code_lengths(BitWriter& out, const std::vector<uint8_t>& lengths, uint32_t set_length) {
  // Turn the lengths into code-length symbols, following the reader's state exactly.
  std::vector<uint8_t> symbols;
  const uint32_t total = static_cast<uint32_t>(lengths.size());
  uint32_t running = 0;
  auto reference = [&](uint32_t i, uint32_t run_value) -> uint32_t {
    if (i >= set_length && lengths[i - set_length] != 0) return lengths[i - set_length];
    return run_value;
  };
  for (uint32_t i = 0; i < total;) {
    const uint32_t target = lengths[i];
    if (target == 0) {
      uint32_t j = i;
      while (j < total && lengths[j] == 0) ++j;
      append_run(symbols, j - i, kZeroRunOne, kZeroRunTwo);
      i = j;
      continue;
    }
    if (target == reference(i, running)) {
      uint32_t j = i, value = running;
      while (j < total && lengths[j] != 0 && lengths[j] == reference(j, value))
        value = lengths[j++];
      if (j - i == 1) {
        symbols.push_back(0);
      } else {
        append_run(symbols, j - i, kRepeatRunOne, kRepeatRunTwo);
      }
      running = value;
      i = j;
      continue;
    }
    symbols.push_back(
        static_cast<uint8_t>((target + format::kCodeLengthModulus - reference(i, running)) %
                             format::kCodeLengthModulus));
    running = target;
    ++i;
  }

  uint32_t frequencies[format::kCodeLengthSymbols] = {};
  for (uint8_t s : symbols) ++frequencies[s];
  uint8_t code_lengths[format::kCodeLengthSymbols];
  build_code_lengths(frequencies, format::kCodeLengthSymbols, kCodeLengthLimit, code_lengths);
  uint16_t codes[format::kCodeLengthSymbols] = {};
  build_canonical_codes(code_lengths, format::kCodeLengthSymbols, codes);

  // The alphabet's own lengths: value + 1 for a length, run fields 0 and 1 for zeros.
  for (uint32_t i = 0; i < format::kCodeLengthSymbols;) {
    if (code_lengths[i] != 0) {
      out.put(code_lengths[i] + format::kCodeLengthFieldBias, format::kCodeLengthFieldBits);
      ++i;
      continue;
    }
    uint32_t j = i;
    while (j < format::kCodeLengthSymbols && code_lengths[j] == 0) ++j;
    std::vector<uint8_t> digits;
    append_run(digits, j - i, 0, 1);
    for (uint8_t d : digits) out.put(d, format::kCodeLengthFieldBits);
    i = j;
  }
  for (uint8_t s : symbols) out.put(codes[s], code_lengths[s]);
}

}  // namespace builder
