// Input of the dictionary builder: listings as UTF-8 TSV, area code lists, their validation
// and conversion to code page 932, and the whole run from input files to a dictionary file.
#ifndef QOR3_TOOLS_MKDICT_TSV_INPUT_H
#define QOR3_TOOLS_MKDICT_TSV_INPUT_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mkdict/dict_builder.h"

// One listing as UTF-8 text fields, named like the TSV columns.
struct TsvRow {
  int line = 0;
  std::string kind;         // "1" or "2"
  std::string regionCode;   // 0..49999
  std::string number;       // 9 or 10 digits with a leading zero, hyphens allowed
  std::string postalCode;   // 7 digits, "NNN-NNNN" or "NNNNNNN"
  std::string name;
  std::string regionName1;
  std::string regionName2;
  std::string address1;
  std::string address2;
  std::string correction;   // correction file: "add" or "remove"
  std::string version;      // correction file: 0..9999
  std::string dictionary;   // a TSV of several dictionaries: 101..4729
};

// Validates and converts one row; false with "line N, field F: ..." (no line part for 0).
bool TsvInput_ConvertRow(const TsvRow& row, bool correction, Listing* out, std::string* error);

// Parses a whole TSV text: a header row naming the columns (in any order), then one listing
// per line; blank lines are skipped, a UTF-8 byte order mark and CR before LF are accepted.
// lineNumbers, when given, holds the input line of each line of text (header first), for the
// messages and Listing::line.
bool TsvInput_Parse(std::string_view text, bool correction, std::vector<Listing>* out,
                    std::string* error, const std::vector<int>* lineNumbers = nullptr);

// A TSV of several dictionaries: the columns of a dictionary's TSV and "dictionary", each
// listing's dictionary number (101..4729 with last two digits 01..29).
struct TsvDictionary {
  uint32_t number = 0;
  std::vector<std::string_view> lines;  // its listings' lines, in input order
  std::vector<int> lineNumbers;         // the header's input line, then each listing's
};
struct TsvSplit {
  std::string_view header;
  size_t dictionaryColumn = 0;
  std::vector<TsvDictionary> dictionaries;  // ascending number
};
// Groups the lines of text (which must outlive the result) by dictionary; false with
// "line N: ..." when the header lacks the dictionary column or a listing's dictionary field
// is not such a number. The listings themselves are checked by TsvInput_Parse of each
// dictionary's text.
bool TsvInput_Split(std::string_view text, TsvSplit* out, std::string* error);
// One dictionary's TSV text: the header and its listings without the dictionary column.
std::string TsvInput_DictionaryText(const TsvSplit& split, const TsvDictionary& dictionary);

// An area code list: one code per line with its leading zero ("03", "0422"); blank lines and
// lines starting with '#' are skipped. Values are the digits after the zero.
bool AreaCodes_Parse(std::string_view text, std::vector<uint32_t>* out, std::string* error);

// Correction versions are compared with the edition stamp of the installed dictionary, the
// YYMM of its edition value 1 (2612 for December 2026). A warning naming the listings whose
// version cannot be a YYMM (month 00 or above 12) and what is stored for one above 2047, or
// "" when every version can be one.
std::string TsvInput_VersionWarning(const std::vector<Listing>& listings);

// Reads a whole file, or standard input for "-"; false with "cannot read PATH: reason".
bool ReadWholeFile(const std::string& path, std::string* out, std::string* error);

// A run of the builder from files to a dictionary file.
struct MkDictJob {
  std::string inputPath;   // the TSV; "-" for standard input
  std::string outputPath;  // the dictionary file to write
  std::string areaCodesPath;          // empty: no area codes
  std::string extendedAreaCodesPath;  // empty: no extended area codes
  DictBuildOptions options;  // area code lists are added from the files
  // Called as each step starts (reading, checking, building, writing): step 0..steps-1.
  void (*progress)(int step, int steps, const char* what) = nullptr;
  // Called with a warning about the input; the build goes on.
  void (*warn)(const std::string& message) = nullptr;
};

// Reads, checks, builds and writes; on any error nothing is written and the message names the
// file, and for listings the line and the field.
bool MkDict_Run(const MkDictJob& job, DictBuildStats* stats, std::string* error);
// The job's options with the area code files read into them; false with the file's message.
bool MkDict_ReadAreaCodes(const MkDictJob& job, DictBuildOptions* options, std::string* error);

#endif  // QOR3_TOOLS_MKDICT_TSV_INPUT_H
