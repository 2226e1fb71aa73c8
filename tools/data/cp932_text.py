# Text normalisation shared by the data derivation scripts: Unicode text to the form that code page 932 holds.
"""Normalise Unicode text for code page 932.

Listings hold code page 932 text, and most fields (names, address text 1) may hold only
double-byte characters. The derivation scripts therefore turn source text into the
full-width form that round-trips through Python's 'cp932' codec unchanged:

- ASCII letters, digits and symbols become their full-width forms (U+FF01..U+FF5E), the
  space becomes the ideographic space U+3000;
- half-width katakana become full-width katakana (voiced marks are composed);
- characters that cp932 encodes under another code point (U+301C WAVE DASH, U+2212 MINUS
  SIGN, U+2016, U+00A2, U+00A3, U+00AC) become the code point that cp932 decodes to, so
  that encoding and decoding again gives the same text;
- a few look-alikes that cp932 lacks (EM DASH, EN DASH, YEN SIGN, OVERLINE) become the
  nearest full-width character.
"""

import unicodedata

_LOOKALIKES = {
    "\u2014": "\u2015",  # EM DASH -> HORIZONTAL BAR
    "\u2013": "\uff0d",  # EN DASH -> FULLWIDTH HYPHEN-MINUS
    "\u2011": "\u2010",  # NON-BREAKING HYPHEN -> HYPHEN
    "\u2012": "\uff0d",  # FIGURE DASH
    "\u00a5": "\uffe5",  # YEN SIGN -> FULLWIDTH YEN SIGN
    "\u203e": "\uffe3",  # OVERLINE -> FULLWIDTH MACRON
    "\u00b7": "\u30fb",  # MIDDLE DOT -> KATAKANA MIDDLE DOT
}


def _full_width_char(ch):
    code = ord(ch)
    if ch == " ":
        return "\u3000"
    if 0x21 <= code <= 0x7E:
        return chr(code - 0x21 + 0xFF01)
    return _LOOKALIKES.get(ch, ch)


def normalise(text):
    """Returns text in the full-width, cp932 round-trip form described above."""
    out = []
    run = []  # pending half-width katakana, composed together with their voiced marks

    def flush():
        if run:
            out.append(unicodedata.normalize("NFKC", "".join(run)))
            run.clear()

    for ch in text:
        if "\uff61" <= ch <= "\uff9f":
            run.append(ch)
            continue
        flush()
        ch = _full_width_char(ch)
        try:
            ch = ch.encode("cp932").decode("cp932")
        except UnicodeEncodeError:
            pass
        out.append(ch)
    flush()
    return "".join(out)


def encodes(text):
    """True when the text encodes in cp932."""
    try:
        text.encode("cp932")
    except UnicodeEncodeError:
        return False
    return True


def all_double_byte(text):
    """True when every character of the text is a double-byte cp932 character whose first
    byte lies in 0x81..0x9F or 0xE0..0xEF (the lead bytes the engine walks as two-byte
    characters; Python writes IBM extensions at 0xFA..0xFC, which are refused here)."""
    for ch in text:
        try:
            b = ch.encode("cp932")
        except UnicodeEncodeError:
            return False
        if len(b) != 2 or not (0x81 <= b[0] <= 0x9F or 0xE0 <= b[0] <= 0xEF):
            return False
    return True


def cp932_length(text):
    """Length in bytes of the text in cp932 (the text must encode)."""
    return len(text.encode("cp932"))
