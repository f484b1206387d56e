// Names between this system's UTF-8 and the Windows code pages: the bytes Windows uses
// for them, and the names a code page cannot write.
#include "platform/posix/code_page.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string encoded(uint32_t code_page, const std::string& text, bool* ok) {
  char out[256];
  const long n = code_page_encode(code_page, text.data(), text.size(), out, sizeof out);
  *ok = n >= 0;
  return *ok ? std::string(out, static_cast<size_t>(n)) : std::string();
}

std::string decoded(uint32_t code_page, const std::string& bytes, bool* ok) {
  char out[256];
  const long n = code_page_decode(code_page, bytes.data(), bytes.size(), out, sizeof out);
  *ok = n >= 0;
  return *ok ? std::string(out, static_cast<size_t>(n)) : std::string();
}

TEST(CodePage, NamesTakeTheBytesWindowsGivesThem) {
  struct Case {
    uint32_t code_page;
    const char* text;
    std::string bytes;
  } cases[] = {
      {1252, "\u00dcberblick \u2013 Caf\u00e9.txt",
       "\xdc"
       "berblick \x96 Caf\xe9.txt"},
      {1250, "P\u0159\u00edli\u0161", "P\xf8\xedli\x9a"},
      {1251, "\u041f\u0440\u0438\u043c\u0435\u0440", "\xcf\xf0\xe8\xec\xe5\xf0"},
      {1253, "\u0391\u03bb\u03c6\u03b1", "\xc1\xeb\xf6\xe1"},
      {1254, "\u0130stanbul", "\xddstanbul"},
      {1255, "\u05e9\u05dc\u05d5\u05dd", "\xf9\xec\xe5\xed"},
      {1256, "\u0633\u0644\u0627\u0645", "\xd3\xe1\xc7\xe3"},
      {1257, "\u0104\u017euolas", "\xc0\xfeuolas"},
      {874, "\u0e20\u0e32\u0e29\u0e32", "\xc0\xd2\xc9\xd2"},
      {932, "\u8aac\u660e.txt", "\x90\xe0\x96\xbe.txt"},
      {936, "\u8bf4\u660e", "\xcb\xb5\xc3\xf7"},
      {949, "\uc124\uba85", "\xbc\xb3\xb8\xed"},
      {950, "\u8aaa\u660e", "\xbb\xa1\xa9\xfa"},
      {1252, "plain ASCII.txt", "plain ASCII.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code_page);
    bool ok = false;
    EXPECT_EQ(encoded(c.code_page, c.text, &ok), c.bytes);
    EXPECT_TRUE(ok);
    EXPECT_EQ(decoded(c.code_page, c.bytes, &ok), c.text);
    EXPECT_TRUE(ok);
  }
}

TEST(CodePage, WhatACodePageCannotWriteFails) {
  struct Case {
    const char* what;
    uint32_t code_page;
    bool encode;
    std::string in;
  } cases[] = {
      {"Japanese in the Western code page", 1252, true, "\u8aac\u660e.txt"},
      {"Cyrillic in the Central European code page", 1250, true, "\u041f"},
      {"Greek in the Cyrillic code page", 1251, true, "\u03bb"},
      {"no valid UTF-8", 1252, true,
       "a\xff"
       "b"},
      {"a cut UTF-8 character", 1252, true, "a\xc3"},
      {"a code page not offered", 437, true, "a"},
      {"byte 0x81, no character of 1252", 1252, false, "a\x81"},
      {"a lead byte without its second byte", 932, false, "a\x90"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bool ok = true;
    if (c.encode) {
      encoded(c.code_page, c.in, &ok);
    } else {
      decoded(c.code_page, c.in, &ok);
    }
    EXPECT_FALSE(ok);
  }
  char small[4];
  EXPECT_EQ(code_page_encode(1252, "abcd", 4, small, sizeof small), -1);
  EXPECT_EQ(code_page_encode(1252, "abc", 3, small, sizeof small), 3);
  EXPECT_TRUE(code_page_known(1252) && code_page_known(874) && code_page_known(950));
  EXPECT_FALSE(code_page_known(1258) || code_page_known(65001) || code_page_known(0));
}

}  // namespace
