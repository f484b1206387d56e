// The call-address transform for x86 code: every 0xE8 opcode's 32-bit operand is turned
// from a relative displacement into an absolute form that compresses better. The
// installer restores each run of a file's output by itself, so the transform is cut at
// the same places: where the file's contents begin and at every block boundary.
#pragma once

#include <cstdint>
#include <vector>

namespace builder {

// Whether the contents are a PE image for x86 (32- or 64-bit), by its headers.
bool is_x86_executable(const uint8_t* data, uint32_t size);

// Contents read piece by piece take the same test in two steps (common/pe_header.h):
// pe_header_offset of the first 64 bytes, then is_x86_pe_signature of the 6 bytes there.

// Transforms one run of a file's contents in place: `run_offset` is the run's position in
// the file, `file_size` the file's length. forward_call_transform is this over every run.
void forward_call_transform_run(uint8_t* run, uint32_t length, uint32_t run_offset,
                                uint32_t file_size);

// Transforms a file's contents in place. `stream_offset` is the stream position of its
// first byte; `starts` the stream's block starts.
void forward_call_transform(uint8_t* contents, uint32_t size, uint32_t stream_offset,
                            const std::vector<uint32_t>& starts);

// The installer's restoring of one run, for tests: stored bytes to original bytes.
void inverse_call_transform_run(uint8_t* run, uint32_t length, uint32_t run_offset,
                                uint32_t file_size);

}  // namespace builder
