// Stand-in for the converter library JQelAgtbase. See jqelagtbase_standin.h
// for its native encoding.
//
// The bridge converts every string it passes through here, so both directions
// are written to cost no more than the JVM's own string coding: one pass over
// the characters after strlen, the result allocated once at a size that the
// input bounds, and runs of ASCII taken in blocks rather than byte by byte.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "agent/jqelagtbase.h"
#include "jqelagtbase_standin.h"

namespace {

thread_local int fail_from_utf_in = -1;  // calls left before a forced failure
thread_local int refs_left_to_jvm = 0;   // by each convertStringToUTF

constexpr uint64_t kHighBits = 0x8080808080808080u;

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// True if the eight bytes at s are all ASCII.
bool ascii8(unsigned char const* s) {
  uint64_t w;
  memcpy(&w, s, sizeof w);
  return (w & kHighBits) == 0;
}

// True if the kBlock bytes at s are all ASCII. Loops of fixed length without
// an early exit, which compilers turn into a few vector instructions.
constexpr size_t kBlock = 256;
bool ascii_block(unsigned char const* s) {
  unsigned char any[32] = {};
  for (size_t k = 0; k < kBlock; k += sizeof any)
    for (size_t j = 0; j < sizeof any; ++j) any[j] |= s[k + j];
  uint64_t w[4];
  memcpy(w, any, sizeof w);
  return ((w[0] | w[1] | w[2] | w[3]) & kHighBits) == 0;
}

// The length of the run of ASCII bytes that starts the n bytes at s: by
// words, and by blocks once the run has proved long, then byte by byte.
size_t ascii_run(unsigned char const* s, size_t n) {
  size_t i = 0;
  while (i + 8 <= n && ascii8(s + i)) {
    i += 8;
    if (i == 32)
      while (i + kBlock <= n && ascii_block(s + i)) i += kBlock;
  }
  while (i < n && s[i] < 0x80) ++i;
  return i;
}

// The length of the modified UTF-8 sequence at s (well-formed, and not
// overlong but for C0 80, which is U+0000), or 0 if there is none. s[0] is
// not ASCII. Reads no further than the first byte that does not fit, so never
// past the terminating NUL.
size_t modified_utf8_sequence(unsigned char const* s) {
  unsigned char c = s[0];
  if ((c & 0xE0) == 0xC0 && continuation(s[1]))
    return c >= 0xC2 || (c == 0xC0 && s[1] == 0x80) ? 2 : 0;
  if ((c & 0xF0) == 0xE0 && continuation(s[1]) && continuation(s[2]))
    return c != 0xE0 || s[1] >= 0xA0 ? 3 : 0;
  return 0;
}

// True if the well-formed three-byte sequence at s is a high surrogate
// (ED A0..AF xx) followed by the three-byte form of a low surrogate
// (ED B0..BF xx): modified UTF-8's spelling of a character beyond U+FFFF.
bool surrogate_pair(unsigned char const* s) {
  return s[0] == 0xED && (s[1] & 0xF0) == 0xA0 && s[3] == 0xED && (s[4] & 0xF0) == 0xB0 &&
         continuation(s[5]);
}

// Writes the four bytes of the character whose surrogate pair is the six
// bytes at s.
void put_pair(unsigned char const* s, unsigned char* out) {
  char32_t high = ((s[1] & 0x0Fu) << 6) | (s[2] & 0x3Fu);  // less 0xD800
  char32_t low = ((s[4] & 0x0Fu) << 6) | (s[5] & 0x3Fu);   // less 0xDC00
  char32_t cp = 0x10000 + ((high << 10) | low);
  out[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
  out[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
}

// Decodes the native sequence at s (s[0] not ASCII) into UTF-16 units at out
// and sets *units to their number. Returns the bytes it took, or 0 if they
// are not the native encoding. `after_lone_high`: the unit before was a
// three-byte high surrogate, so a low surrogate here would be a pair that
// had to take its four-byte form.
size_t decode_native(unsigned char const* s, bool after_lone_high, jchar* out,
                     size_t* units) {
  unsigned char c = s[0];
  *units = 1;
  if (c == 0xC0 && s[1] == 0x80) {
    out[0] = 0;
    return 2;
  }
  if (c >= 0xC2 && c <= 0xDF && continuation(s[1])) {
    out[0] = static_cast<jchar>(((c & 0x1Fu) << 6) | (s[1] & 0x3Fu));
    return 2;
  }
  if ((c & 0xF0) == 0xE0 && continuation(s[1]) && continuation(s[2])) {
    auto u =
        static_cast<jchar>(((c & 0x0Fu) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu));
    if (u < 0x800 || (after_lone_high && u >= 0xDC00 && u <= 0xDFFF)) return 0;
    out[0] = u;
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4 && continuation(s[1]) && continuation(s[2]) &&
      continuation(s[3])) {
    char32_t cp = ((c & 0x07u) << 18) | ((s[1] & 0x3Fu) << 12) | ((s[2] & 0x3Fu) << 6) |
                  (s[3] & 0x3Fu);
    if (cp < 0x10000 || cp > 0x10FFFF) return 0;
    cp -= 0x10000;
    out[0] = static_cast<jchar>(0xD800 + (cp >> 10));
    out[1] = static_cast<jchar>(0xDC00 + (cp & 0x3FF));
    *units = 2;
    return 4;
  }
  return 0;
}

}  // namespace

// Modified UTF-8 and the native encoding agree on every character but those
// beyond U+FFFF, whose six bytes (a surrogate pair) become four. So the
// result is the input, checked, with each such pair rewritten: never longer,
// and copied in runs between the pairs.
char* convertStringFromUTF(char const* utf) {
  if (fail_from_utf_in == 0) {
    fail_from_utf_in = -1;
    return nullptr;
  }
  if (fail_from_utf_in > 0) --fail_from_utf_in;
  if (!utf) return nullptr;
  auto const* s = reinterpret_cast<unsigned char const*>(utf);
  size_t n = strlen(utf);
  auto* out = static_cast<unsigned char*>(malloc(n + 1));
  if (!out) return nullptr;
  size_t i = 0;     // bytes checked
  size_t from = 0;  // bytes [from, i) are checked but not yet copied
  size_t o = 0;     // bytes written
  while (i < n) {
    if (s[i] < 0x80) {
      if (i + 8 <= n && ascii8(s + i)) {
        i += ascii_run(s + i, n - i);
      } else {
        // A short run, as between the words of mixed text: byte by byte
        // costs less here than a call of ascii_run.
        do ++i;
        while (i < n && s[i] < 0x80);
      }
      continue;
    }
    size_t k = modified_utf8_sequence(s + i);
    if (k == 0) {
      free(out);
      return nullptr;
    }
    if (k == 3 && surrogate_pair(s + i)) {
      memcpy(out + o, s + from, i - from);
      o += i - from;
      put_pair(s + i, out + o);
      o += 4, i += 6, from = i;
      continue;
    }
    i += k;
  }
  memcpy(out + o, s + from, n - from);
  out[o + n - from] = '\0';
  return reinterpret_cast<char*>(out);
}

// ASCII is modified UTF-8 as it stands, and the JVM copies it into a string
// whole. Any other text is decoded here into UTF-16 for NewString, since the
// JVM would decode modified UTF-8 one character at a time, and could not take
// the native encoding's four-byte sequences at all.
jstring convertStringToUTF(char* native, JNIEnv* env) {
  if (!native) return nullptr;
  for (int k = 0; k < refs_left_to_jvm; ++k)
    if (!env->FindClass("java/lang/String")) return nullptr;
  auto const* s = reinterpret_cast<unsigned char const*>(native);
  size_t n = strlen(native);
  size_t i = ascii_run(s, n);
  if (i == n) return env->NewStringUTF(native);

  // Never more units than bytes, and a jsize counts at most 0x7FFFFFFF.
  if (n > 0x7FFFFFFF) return nullptr;
  auto* units = static_cast<jchar*>(malloc(n * sizeof(jchar)));
  if (!units) return nullptr;
  for (size_t k = 0; k < i; ++k) units[k] = s[k];
  size_t u = i;  // units written
  bool after_lone_high = false;
  while (i < n) {
    if (s[i] < 0x80) {
      units[u++] = s[i++];
      after_lone_high = false;
      continue;
    }
    size_t written;
    size_t k = decode_native(s + i, after_lone_high, units + u, &written);
    if (k == 0) {
      free(units);
      return nullptr;
    }
    after_lone_high = k == 3 && units[u] >= 0xD800 && units[u] <= 0xDBFF;
    i += k, u += written;
  }
  jstring result = env->NewString(units, static_cast<jsize>(u));
  free(units);
  return result;
}

extern "C" {

void qelconv_fail_next_from_utf(int skip) { fail_from_utf_in = skip; }

void qelconv_leave_local_refs(int count) { refs_left_to_jvm = count; }

}  // extern "C"
