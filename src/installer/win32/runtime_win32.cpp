// The few C library routines the compiler may emit calls to (block copies, clears,
// struct compares and text lengths) for the stub, which links no C runtime. Written with string
// instructions so that the compiler cannot turn their loops back into calls to themselves.
#include <cstddef>

// "used": the compiler may emit calls to these after whole-program optimisation has
// already decided what to keep.
extern "C" {

__attribute__((used)) void* memcpy(void* destination, const void* source, size_t count) {
  void* out = destination;
  asm volatile("rep movsb" : "+D"(out), "+S"(source), "+c"(count) : : "memory");
  return destination;
}

__attribute__((used)) void* memmove(void* destination, const void* source, size_t count) {
  auto* out = static_cast<unsigned char*>(destination);
  auto* in = static_cast<const unsigned char*>(source);
  if (out <= in || out >= in + count) return memcpy(destination, source, count);
  // Overlapping with the destination above the source: copy from the end down.
  out += count - 1;
  in += count - 1;
  asm volatile("std\n\trep movsb\n\tcld" : "+D"(out), "+S"(in), "+c"(count) : : "memory");
  return destination;
}

__attribute__((used)) void* memset(void* destination, int value, size_t count) {
  void* out = destination;
  asm volatile("rep stosb" : "+D"(out), "+c"(count) : "a"(value) : "memory");
  return destination;
}

__attribute__((used)) int memcmp(const void* a, const void* b, size_t count) {
  auto* left = static_cast<const unsigned char*>(a);
  auto* right = static_cast<const unsigned char*>(b);
  for (size_t i = 0; i < count; ++i) {
    if (left[i] != right[i]) return left[i] < right[i] ? -1 : 1;
  }
  return 0;
}

__attribute__((used)) size_t strlen(const char* text) {
  const char* end = text;
  while (*end != '\0') ++end;
  return static_cast<size_t>(end - text);
}

}  // extern "C"
