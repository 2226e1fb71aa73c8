// UTF-8 <-> code page 932 conversion for the tools, with the normalisation that makes common
// Unicode texts storable (Unicode look-alikes, full-width forms for double-byte fields).
// Its converters and caches are per thread, so several threads may convert at once.
#ifndef QOR3_TOOLS_COMMON_CP932_H
#define QOR3_TOOLS_COMMON_CP932_H

#include <string>
#include <string_view>

// Code points of a UTF-8 text; false with a message for malformed UTF-8 (overlong forms,
// surrogates and values past U+10FFFF included).
bool Utf8_Decode(std::string_view text, std::u32string* out, std::string* error);
void Utf8_Append(char32_t cp, std::string* out);
// Input quoted in a message: at most maxCharacters characters in double quotes, control
// characters (NUL included) and bytes that are not UTF-8 as \xNN, and when cut "..." and
// the text's size in bytes.
std::string Text_Excerpt(std::string_view text, size_t maxCharacters = 80);
std::string Utf8_Encode(std::u32string_view text);
// True when a name pattern holds nothing but wildcards (* ?) and spaces, ASCII or full-width:
// the library answers such a pattern with nothing at all.
bool Utf8_IsBlankPattern(std::string_view utf8);

// Replaces characters that code page 932 only holds under another Unicode value by that value
// (U+301C -> U+FF5E, U+2212 -> U+FF0D, U+2014 -> U+2015, U+00A2/A3/A5/A6/AC -> FF forms, ...)
// and joins combining voiced marks (U+3099, U+309A) with the kana before them.
std::u32string Cp932_MapUnicode(std::u32string_view text);

// Full-width forms for a field that must consist of double-byte characters: printable ASCII
// to U+FF01..U+FF5E (space to U+3000), half-width katakana to katakana, a half-width voiced
// or semi-voiced mark joining the kana before it (U+FF76 U+FF9E -> U+30AC).
std::u32string Cp932_ToFullWidth(std::u32string_view text);

// UTF-8 to code page 932: Cp932_MapUnicode, Cp932_ToFullWidth when fullWidth is set, then
// encoding. Control characters, private-use characters and anything the code page cannot
// write are refused with a message naming the character. A character that the code page has
// twice (IBM extensions at lead bytes 0xFA..0xFC) is written with its code in the two-byte
// lead ranges 0x81..0x9F, 0xE0..0xEF, the only ones the engine walks as two-byte characters.
bool Cp932_FromUtf8(std::string_view utf8, bool fullWidth, std::string* out, std::string* error);

// Code page 932 to UTF-8; false for a byte sequence that is not code page 932 text.
bool Cp932_ToUtf8(std::string_view cp932, std::string* out);
// The same for display: what is not code page 932 text (damaged data) becomes U+FFFD.
std::string Cp932_ToUtf8Lossy(std::string_view cp932);

// True when every character of the code page 932 text is a two-byte character whose first
// byte lies in 0x81..0x9F or 0xE0..0xEF.
bool Cp932_IsDoubleByte(std::string_view cp932);

#endif  // QOR3_TOOLS_COMMON_CP932_H
