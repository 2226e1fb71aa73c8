// UTF-8 <-> code page 932 conversion: the system converter (iconv "CP932" on POSIX, code page
// 932 of the Windows API) does the encoding; this file adds normalisation and checks.
#include "common/cp932.h"

#include <cstdint>
#include <cstdio>
#include <unordered_map>

#include "base/cp932.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace {

// Lead bytes of every two-byte character of the code page, user-defined and IBM rows included.
bool IsAnyLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

std::string CodePointName(char32_t cp) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(cp));
  std::string name = text;
  if (cp >= 0x20 && cp != 0x7F && !(cp >= 0x80 && cp < 0xA0)) {
    name += " '";
    Utf8_Append(cp, &name);
    name += "'";
  }
  return name;
}

// ---- The system converter, one character at a time.

#if defined(_WIN32)

bool EncodeRaw(char32_t cp, std::string* out) {
  if (cp > 0xFFFF) return false;  // code page 932 has nothing beyond the BMP
  wchar_t wide = static_cast<wchar_t>(cp);
  char bytes[8];
  BOOL usedDefault = FALSE;
  int n = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, &wide, 1, bytes, sizeof bytes, nullptr,
                              &usedDefault);
  if (n <= 0 || usedDefault) return false;
  out->assign(bytes, static_cast<size_t>(n));
  return true;
}

bool DecodeRaw(std::string_view bytes, char32_t* cp) {
  wchar_t wide[4];
  int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(),
                              static_cast<int>(bytes.size()), wide, 4);
  if (n != 1) return false;
  if (wide[0] >= 0xD800 && wide[0] <= 0xDFFF) return false;
  *cp = static_cast<char32_t>(wide[0]);
  return true;
}

#else

struct Converters {
  iconv_t toCp932 = reinterpret_cast<iconv_t>(-1);
  iconv_t fromCp932 = reinterpret_cast<iconv_t>(-1);
  Converters() {
    toCp932 = iconv_open("CP932", "UTF-8");
    fromCp932 = iconv_open("UTF-8", "CP932");
    if (toCp932 == reinterpret_cast<iconv_t>(-1) || fromCp932 == reinterpret_cast<iconv_t>(-1)) {
      std::fprintf(stderr, "iconv has no CP932 converter\n");
    }
  }
  ~Converters() {
    if (toCp932 != reinterpret_cast<iconv_t>(-1)) iconv_close(toCp932);
    if (fromCp932 != reinterpret_cast<iconv_t>(-1)) iconv_close(fromCp932);
  }
};

Converters& GetConverters() {
  thread_local Converters converters;
  return converters;
}

// One complete iconv conversion of `in`; false when any of it does not convert.
bool Iconv(iconv_t cd, std::string_view in, std::string* out) {
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string source(in);
  char buffer[32];
  char* inPtr = source.data();
  size_t inLeft = source.size();
  char* outPtr = buffer;
  size_t outLeft = sizeof buffer;
  if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) return false;
  if (iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1)) return false;
  if (inLeft != 0) return false;
  out->assign(buffer, static_cast<size_t>(outPtr - buffer));
  return true;
}

bool EncodeRaw(char32_t cp, std::string* out) {
  std::string utf8;
  Utf8_Append(cp, &utf8);
  return Iconv(GetConverters().toCp932, utf8, out);
}

bool DecodeRaw(std::string_view bytes, char32_t* cp) {
  std::string utf8;
  if (!Iconv(GetConverters().fromCp932, bytes, &utf8)) return false;
  std::u32string points;
  std::string ignored;
  if (!Utf8_Decode(utf8, &points, &ignored) || points.size() != 1) return false;
  *cp = points[0];
  return true;
}

#endif

// Code points whose two-byte code lies in the engine's lead ranges, for the characters that
// the converter writes with an IBM extension code (0xFA..0xFC); filled on first use.
const std::unordered_map<char32_t, std::string>& PreferredCodes() {
  thread_local std::unordered_map<char32_t, std::string> codes;
  thread_local bool filled = false;
  if (!filled) {
    filled = true;
    for (unsigned lead = 0x81; lead <= 0xEF; ++lead) {
      if (!IsLeadByte(static_cast<uint8_t>(lead))) continue;
      for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
        if (trail == 0x7F) continue;
        std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
        char32_t cp;
        if (DecodeRaw(bytes, &cp)) codes.emplace(cp, bytes);
      }
    }
  }
  return codes;
}

struct Encoding {
  bool ok;
  std::string bytes;  // the code when ok, else the reason
};

Encoding EncodeChecked(char32_t cp) {
  if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0)) return {false, "control character"};
  if ((cp >= 0xE000 && cp <= 0xF8FF) || cp >= 0xF0000) return {false, "private-use character"};
  std::string bytes;
  if (!EncodeRaw(cp, &bytes) || bytes.empty()) return {false, "not in code page 932"};
  unsigned char first = static_cast<unsigned char>(bytes[0]);
  if (bytes.size() == 2 && first >= 0xF0) {
    const auto& preferred = PreferredCodes();
    auto it = preferred.find(cp);
    if (it == preferred.end()) return {false, "only a user-defined code page 932 code"};
    bytes = it->second;
  }
  // The code must read back as the same character: this refuses "best fit" substitutes.
  char32_t back;
  if (!DecodeRaw(bytes, &back) || back != cp) return {false, "not in code page 932"};
  return {true, bytes};
}

const Encoding& EncodeCached(char32_t cp) {
  thread_local std::unordered_map<char32_t, Encoding> cache;
  auto it = cache.find(cp);
  if (it == cache.end()) it = cache.emplace(cp, EncodeChecked(cp)).first;
  return it->second;
}

// Kana that take a voiced mark (U+3099) as the next code point, katakana and hiragana alike.
bool TakesVoicedMark(char32_t k) {
  if (k >= 0x3041 && k <= 0x3096) k += 0x60;  // hiragana to katakana
  if (k >= 0x30AB && k <= 0x30C1) return (k - 0x30AB) % 2 == 0;  // ka .. chi
  if (k == 0x30C4 || k == 0x30C6 || k == 0x30C8) return true;     // tsu te to
  if (k >= 0x30CF && k <= 0x30DB) return (k - 0x30CF) % 3 == 0;   // ha hi fu he ho
  return false;
}
bool TakesSemiVoicedMark(char32_t k) {
  if (k >= 0x3041 && k <= 0x3096) k += 0x60;
  return k >= 0x30CF && k <= 0x30DB && (k - 0x30CF) % 3 == 0;
}

// Joins a voiced (semi == false) or semi-voiced mark with the kana at the end of out; false
// when that kana takes no such mark.
bool JoinMark(std::u32string* out, bool semi) {
  if (out->empty()) return false;
  char32_t& last = out->back();
  if (!semi && last == 0x30A6) {  // u -> vu (katakana only: hiragana vu is not in the code page)
    last = 0x30F4;
    return true;
  }
  if (semi ? TakesSemiVoicedMark(last) : TakesVoicedMark(last)) {
    last += semi ? 2 : 1;
    return true;
  }
  return false;
}

// Half-width katakana U+FF61..U+FF9F to their full-width forms.
constexpr char16_t kHalfWidthKana[] = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9,
    0x30E3, 0x30E5, 0x30E7, 0x30C3, 0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB,
    0x30AD, 0x30AF, 0x30B1, 0x30B3, 0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1,
    0x30C4, 0x30C6, 0x30C8, 0x30CA, 0x30CB, 0x30CC, 0x30CD, 0x30CE, 0x30CF, 0x30D2, 0x30D5,
    0x30D8, 0x30DB, 0x30DE, 0x30DF, 0x30E0, 0x30E1, 0x30E2, 0x30E4, 0x30E6, 0x30E8, 0x30E9,
    0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3, 0x309B, 0x309C};
static_assert(sizeof kHalfWidthKana / sizeof kHalfWidthKana[0] == 0xFF9F - 0xFF61 + 1);

}  // namespace

namespace {

// The character at text[i]: its code point and byte length; false for bytes that do not
// begin a well-formed UTF-8 character (overlong forms and surrogates included).
bool Utf8_At(std::string_view text, size_t i, char32_t* cp, size_t* length) {
  const unsigned char b = static_cast<unsigned char>(text[i]);
  size_t extra;
  char32_t minimum;
  if (b < 0x80) {
    *cp = b;
    *length = 1;
    return true;
  } else if (b >= 0xC2 && b <= 0xDF) {
    extra = 1, *cp = b & 0x1F, minimum = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    extra = 2, *cp = b & 0x0F, minimum = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    extra = 3, *cp = b & 0x07, minimum = 0x10000;
  } else {
    return false;
  }
  if (text.size() - i <= extra) return false;
  for (size_t k = 1; k <= extra; ++k) {
    const unsigned char c = static_cast<unsigned char>(text[i + k]);
    if ((c & 0xC0) != 0x80) return false;
    *cp = (*cp << 6) | (c & 0x3F);
  }
  *length = extra + 1;
  return *cp >= minimum && *cp <= 0x10FFFF && (*cp < 0xD800 || *cp > 0xDFFF);
}

}  // namespace

bool Utf8_Decode(std::string_view text, std::u32string* out, std::string* error) {
  out->clear();
  for (size_t i = 0; i < text.size();) {
    char32_t cp;
    size_t length;
    if (!Utf8_At(text, i, &cp, &length)) {
      *error = "malformed UTF-8 at byte " + std::to_string(i + 1);
      return false;
    }
    out->push_back(cp);
    i += length;
  }
  return true;
}

std::string Text_Excerpt(std::string_view text, size_t maxCharacters) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  size_t i = 0;
  for (size_t shown = 0; i < text.size() && shown < maxCharacters; ++shown) {
    char32_t cp;
    size_t length;
    const bool printable = Utf8_At(text, i, &cp, &length) && cp >= 0x20 && cp != 0x7F &&
                           (cp < 0x80 || cp > 0x9F);
    if (!printable) {
      const unsigned char b = static_cast<unsigned char>(text[i]);
      out += {'\\', 'x', kHex[b >> 4], kHex[b & 15]};
      ++i;
      continue;
    }
    if (cp == '"' || cp == '\\') out += '\\';
    out.append(text.substr(i, length));
    i += length;
  }
  out += '"';
  if (i < text.size()) out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}

void Utf8_Append(char32_t cp, std::string* out) {
  if (cp < 0x80) {
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

std::string Utf8_Encode(std::u32string_view text) {
  std::string out;
  for (char32_t cp : text) Utf8_Append(cp, &out);
  return out;
}

bool Utf8_IsBlankPattern(std::string_view utf8) {
  std::u32string points;
  std::string error;
  if (!Utf8_Decode(utf8, &points, &error)) return false;
  for (char32_t cp : points) {
    if (cp != '*' && cp != '?' && cp != ' ' && cp != 0xFF0A && cp != 0xFF1F && cp != 0x3000) {
      return false;
    }
  }
  return true;
}

std::u32string Cp932_MapUnicode(std::u32string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (char32_t cp : text) {
    switch (cp) {
      case 0x301C: cp = 0xFF5E; break;  // wave dash -> full-width tilde
      case 0x2212: cp = 0xFF0D; break;  // minus sign -> full-width hyphen-minus
      case 0x2014: cp = 0x2015; break;  // em dash -> horizontal bar
      case 0x2016: cp = 0x2225; break;  // double vertical line -> parallel to
      case 0x00A2: cp = 0xFFE0; break;  // cent
      case 0x00A3: cp = 0xFFE1; break;  // pound
      case 0x00A5: cp = 0xFFE5; break;  // yen
      case 0x00A6: cp = 0xFFE4; break;  // broken bar
      case 0x00AC: cp = 0xFFE2; break;  // not sign
      case 0x203E: cp = 0xFFE3; break;  // overline -> full-width macron
      case 0x00A0: cp = 0x0020; break;  // no-break space
      case 0x3099:                      // combining voiced mark
        if (JoinMark(&out, false)) continue;
        cp = 0x309B;
        break;
      case 0x309A:  // combining semi-voiced mark
        if (JoinMark(&out, true)) continue;
        cp = 0x309C;
        break;
      default: break;
    }
    out.push_back(cp);
  }
  return out;
}

std::u32string Cp932_ToFullWidth(std::u32string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (char32_t cp : text) {
    if (cp == 0x20) {
      cp = 0x3000;
    } else if (cp >= 0x21 && cp <= 0x7E) {
      cp += 0xFF01 - 0x21;
    } else if (cp == 0xFF9E || cp == 0xFF9F) {
      if (JoinMark(&out, cp == 0xFF9F)) continue;
      cp = kHalfWidthKana[cp - 0xFF61];
    } else if (cp >= 0xFF61 && cp <= 0xFF9D) {
      cp = kHalfWidthKana[cp - 0xFF61];
    }
    out.push_back(cp);
  }
  return out;
}

bool Cp932_FromUtf8(std::string_view utf8, bool fullWidth, std::string* out, std::string* error) {
  std::u32string points;
  if (!Utf8_Decode(utf8, &points, error)) return false;
  points = Cp932_MapUnicode(points);
  if (fullWidth) points = Cp932_ToFullWidth(points);
  out->clear();
  for (char32_t cp : points) {
    const Encoding& encoding = EncodeCached(cp);
    if (!encoding.ok) {
      *error = "character " + CodePointName(cp) + " cannot be stored: " + encoding.bytes;
      return false;
    }
    *out += encoding.bytes;
  }
  return true;
}

namespace {

// Decodes cp932 into out; a character that does not decode fails the whole text, or with
// lossy becomes U+FFFD.
bool ToUtf8(std::string_view cp932, bool lossy, std::string* out) {
  out->clear();
  size_t i = 0;
  while (i < cp932.size()) {
    unsigned char b = static_cast<unsigned char>(cp932[i]);
    size_t length = IsAnyLead(b) ? 2 : 1;
    if (b < 0x80) {
      out->push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    char32_t cp = 0xFFFD;
    if (cp932.size() - i < length) length = cp932.size() - i;
    if (!DecodeRaw(cp932.substr(i, length), &cp)) {
      if (!lossy) return false;
      cp = 0xFFFD;
    }
    Utf8_Append(cp, out);
    i += length;
  }
  return true;
}

}  // namespace

bool Cp932_ToUtf8(std::string_view cp932, std::string* out) { return ToUtf8(cp932, false, out); }

std::string Cp932_ToUtf8Lossy(std::string_view cp932) {
  std::string out;
  ToUtf8(cp932, true, &out);
  return out;
}

bool Cp932_IsDoubleByte(std::string_view cp932) {
  for (size_t i = 0; i < cp932.size(); i += 2) {
    if (!IsLeadByte(static_cast<uint8_t>(cp932[i])) || i + 1 >= cp932.size()) return false;
  }
  return true;
}
