// Entropy coding of one block's tokens: the table sets (one or several, switched by
// symbol 256), or the fixed set where that is cheaper.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "builder/bit_writer.h"
#include "builder/lz_token.h"

namespace builder {

// Code lengths of one table set in the decoder's layout (literal/length, then the
// distance tables).
struct TableSet {
  uint8_t lengths[format::kSetLengthThreeTables] = {};
};

// Symbol counts of a run of tokens.
struct Histogram {
  uint32_t literal[format::kLiteralLengthSymbols] = {};
  uint32_t distance[format::kDistanceTables][format::kMaxDistanceSymbols] = {};
  void add(const Token& t, uint32_t tables);
  void merge(const Histogram& other);
};

// Builds code lengths for the histogram (symbol 256 counted by the caller).
void build_table_set(const Histogram& histogram, uint32_t tables, TableSet* set);

// A stretch of tokens and the table set that codes it.
struct SetStretch {
  size_t begin, end;  // tokens
  TableSet set;
};

// The table sets a block's tokens are coded with: short stretches merged while that saves
// bits, then further until at most `max_sets` remain. Every set but the last also codes
// the switch symbol.
std::vector<SetStretch> plan_table_sets(const std::vector<Token>& tokens, uint32_t tables,
                                        uint32_t max_sets);

// Writes the payload of a compressed block (header byte, code lengths, symbols) for the
// tokens, choosing the table sets; `max_sets` 1 keeps a single set.
void encode_block(BitWriter& out, const std::vector<Token>& tokens, uint32_t tables,
                  uint32_t max_sets);

// Whether the fixed set (two distance tables) can code every token.
bool fixed_set_codable(const std::vector<Token>& tokens);
// Writes the payload with the fixed set.
void encode_block_fixed(BitWriter& out, const std::vector<Token>& tokens);

// Writes the tokens with a given set (no header, no switch).
void write_tokens(BitWriter& out, const Token* begin, const Token* end, const uint8_t* lengths,
                  uint32_t tables);

}  // namespace builder
