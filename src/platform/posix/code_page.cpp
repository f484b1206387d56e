#include "platform/posix/code_page.h"

#include <iconv.h>

#include <cstdio>

uint32_t ansi_code_page = 0;

namespace {

// One converter per direction, kept for the code page last asked for.
struct Converter {
  uint32_t code_page = 0;
  iconv_t handle = reinterpret_cast<iconv_t>(-1);
};
Converter encoder, decoder;

iconv_t converter_for(Converter* c, uint32_t code_page, bool encode) {
  if (c->code_page == code_page) return c->handle;
  if (c->handle != reinterpret_cast<iconv_t>(-1)) iconv_close(c->handle);
  char name[16];
  std::snprintf(name, sizeof name, "CP%u", static_cast<unsigned>(code_page));
  c->handle = encode ? iconv_open(name, "UTF-8") : iconv_open("UTF-8", name);
  c->code_page = code_page;
  return c->handle;
}

long convert(iconv_t cd, const char* in, size_t size, char* out, size_t out_size) {
  if (cd == reinterpret_cast<iconv_t>(-1) || out_size == 0) return -1;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* from = const_cast<char*>(in);
  char* to = out;
  size_t left = size;
  size_t room = out_size - 1;
  // Characters the target lacks fail here (EILSEQ): glibc converts none of them silently.
  if (iconv(cd, &from, &left, &to, &room) == static_cast<size_t>(-1)) return -1;
  if (iconv(cd, nullptr, nullptr, &to, &room) == static_cast<size_t>(-1)) return -1;
  *to = '\0';
  return static_cast<long>(to - out);
}

}  // namespace

bool code_page_known(uint32_t code_page) {
  return code_page == 874 || (code_page >= 1250 && code_page <= 1257) ||
         code_page_double_byte(code_page);
}

bool code_page_double_byte(uint32_t code_page) {
  return code_page == 932 || code_page == 936 || code_page == 949 || code_page == 950;
}

long code_page_encode(uint32_t code_page, const char* in, size_t size, char* out, size_t out_size) {
  if (!code_page_known(code_page)) return -1;
  return convert(converter_for(&encoder, code_page, true), in, size, out, out_size);
}

long code_page_decode(uint32_t code_page, const char* in, size_t size, char* out, size_t out_size) {
  if (!code_page_known(code_page)) return -1;
  return convert(converter_for(&decoder, code_page, false), in, size, out, out_size);
}
