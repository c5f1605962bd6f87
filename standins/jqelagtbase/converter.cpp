// Stand-in for the converter library JQelAgtbase. See jqelagtbase_standin.h
// for its native encoding.
#include <stdlib.h>

#include <new>
#include <string>

#include "../../bridge/agent/jqelagtbase.h"
#include "jqelagtbase_standin.h"

namespace {

thread_local int fail_from_utf_in = -1;  // calls left before a forced failure

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }
bool high_surrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool low_surrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Decodes NUL-terminated modified UTF-8 into UTF-16 code units.
bool decode_modified_utf8(unsigned char const* s, std::u16string* out) {
  while (*s) {
    unsigned char c = s[0];
    if (c < 0x80) {
      out->push_back(c);
      s += 1;
    } else if ((c & 0xE0) == 0xC0 && continuation(s[1])) {
      char16_t u = static_cast<char16_t>(((c & 0x1F) << 6) | (s[1] & 0x3F));
      if (u < 0x80 && u != 0) return false;  // overlong, but for C0 80 (NUL)
      out->push_back(u);
      s += 2;
    } else if ((c & 0xF0) == 0xE0 && continuation(s[1]) &&
               continuation(s[2])) {
      char16_t u = static_cast<char16_t>(((c & 0x0F) << 12) |
                                         ((s[1] & 0x3F) << 6) | (s[2] & 0x3F));
      if (u < 0x800) return false;
      out->push_back(u);
      s += 3;
    } else {
      return false;
    }
  }
  return true;
}

void put(std::string* out, char32_t cp) {
  if (cp == 0) {
    out->append("\xC0\x80");
  } else if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes the native encoding into UTF-16 code units; false for other bytes.
bool decode_native(unsigned char const* s, std::u16string* out) {
  bool after_lone_high = false;  // the last unit was a three-byte high surrogate
  while (*s) {
    unsigned char c = s[0];
    char32_t cp;
    size_t n;
    if (c < 0x80) {
      cp = c, n = 1;
    } else if (c == 0xC0 && s[1] == 0x80) {
      cp = 0, n = 2;
    } else if (c >= 0xC2 && c <= 0xDF && continuation(s[1])) {
      cp = ((c & 0x1Fu) << 6) | (s[1] & 0x3Fu), n = 2;
    } else if ((c & 0xF0) == 0xE0 && continuation(s[1]) &&
               continuation(s[2])) {
      cp = ((c & 0x0Fu) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu), n = 3;
      if (cp < 0x800) return false;
    } else if (c >= 0xF0 && c <= 0xF4 && continuation(s[1]) &&
               continuation(s[2]) && continuation(s[3])) {
      cp = ((c & 0x07u) << 18) | ((s[1] & 0x3Fu) << 12) |
           ((s[2] & 0x3Fu) << 6) | (s[3] & 0x3Fu), n = 4;
      if (cp < 0x10000 || cp > 0x10FFFF) return false;
    } else {
      return false;
    }
    // A surrogate pair must take its four-byte form.
    if (after_lone_high && low_surrogate(cp)) return false;
    after_lone_high = n == 3 && high_surrogate(cp);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(cp));
    }
    s += n;
  }
  return true;
}

}  // namespace

char* convertStringFromUTF(char const* utf) {
  if (fail_from_utf_in == 0) {
    fail_from_utf_in = -1;
    return nullptr;
  }
  if (fail_from_utf_in > 0) --fail_from_utf_in;
  if (!utf) return nullptr;
  try {
    std::u16string units;
    if (!decode_modified_utf8(reinterpret_cast<unsigned char const*>(utf),
                              &units))
      return nullptr;
    std::string native;
    for (size_t i = 0; i < units.size(); ++i) {
      char32_t u = units[i];
      if (high_surrogate(u) && i + 1 < units.size() &&
          low_surrogate(units[i + 1])) {
        u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
        ++i;
      }
      put(&native, u);
    }
    char* result = static_cast<char*>(malloc(native.size() + 1));
    if (!result) return nullptr;
    native.copy(result, native.size());
    result[native.size()] = '\0';
    return result;
  } catch (std::bad_alloc const&) {
    return nullptr;
  }
}

jstring convertStringToUTF(char* native, JNIEnv* env) {
  if (!native) return nullptr;
  try {
    std::u16string units;
    if (!decode_native(reinterpret_cast<unsigned char const*>(native), &units))
      return nullptr;
    return env->NewString(reinterpret_cast<jchar const*>(units.data()),
                          static_cast<jsize>(units.size()));
  } catch (std::bad_alloc const&) {
    return nullptr;
  }
}

extern "C" {

void qelconv_fail_next_from_utf(int skip) { fail_from_utf_in = skip; }

}  // extern "C"
