#include "builder/windows_names.h"

#include <locale.h>
#include <wctype.h>

#include <cstdint>
#include <cstring>

namespace builder {
namespace {

// The next character of a UTF-8 text, or -1 for a byte that starts none.
int32_t next_character(const std::string& text, size_t* i) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t first = byte(*i);
  size_t length = first < 0x80         ? 1
                  : (first >> 5) == 6  ? 2
                  : (first >> 4) == 14 ? 3
                  : (first >> 3) == 30 ? 4
                                       : 0;
  if (length == 0 || *i + length > text.size()) {
    ++*i;
    return -1;
  }
  int32_t c = length == 1 ? first : first & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(*i + k) & 0xC0) != 0x80) {
      ++*i;
      return -1;
    }
    c = (c << 6) | (byte(*i + k) & 0x3F);
  }
  *i += length;
  return c;
}

void append_utf8(int32_t c, std::string* out) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool same_letters(const std::string& text, const char* upper) {
  if (text.size() != std::strlen(upper)) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 32) : text[i];
    if (c != upper[i]) return false;
  }
  return true;
}

// The part Windows looks at for a device is the name up to its first dot, without the
// spaces before it. The installer's check, kept small, takes the part up to the first dot
// or space ("Aux notes.txt" too); the same is refused here, so that every name packed
// installs. COM and LPT take the digits 1 to 9 and the superscripts 1 to 3.
bool device_name(const std::string& name) {
  const std::string base = name.substr(0, name.find_first_of(". "));
  for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
    if (same_letters(base, device)) return true;
  }
  if (base.size() < 4 ||
      (!same_letters(base.substr(0, 3), "COM") && !same_letters(base.substr(0, 3), "LPT")))
    return false;
  const std::string number = base.substr(3);
  return (number.size() == 1 && number[0] >= '1' && number[0] <= '9') || number == "\u00b9" ||
         number == "\u00b2" || number == "\u00b3";
}

}  // namespace

std::string windows_name_problem(const std::string& name) {
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20) return "the name holds a control character";
    if (std::strchr("<>:\"|?*\\", c) != nullptr) {
      return std::string("the name holds '") + c + "', which Windows does not allow in a name";
    }
  }
  if (name.back() == '.' || name.back() == ' ') {
    return std::string("the name ends in a ") + (name.back() == '.' ? "dot" : "space") +
           ", which Windows drops";
  }
  if (device_name(name))
    return "the name is a device on Windows, which opens the device, not a file";
  return std::string();
}

std::string folded_name(const std::string& name) {
  // The C library's UTF-8 locale knows the upper case of every letter.
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  std::string out;
  for (size_t i = 0; i < name.size();) {
    const int32_t c = next_character(name, &i);
    if (c < 0) {
      out += name[i - 1];  // no character: the byte as it is
    } else if (utf8 != static_cast<locale_t>(0)) {
      append_utf8(static_cast<int32_t>(towupper_l(static_cast<wint_t>(c), utf8)), &out);
    } else {
      append_utf8(c >= 'a' && c <= 'z' ? c - 32 : c, &out);
    }
  }
  return out;
}

}  // namespace builder
