// What `qor check` and `qor inspect` find in dictionary files (qorNNNN.dct, the correction file
// qor5001.dct) and catalog files (qor9999.dct), read through the dictionary and catalog
// modules' checked readers: what a file holds, and every limit, offset, block and entry order
// rule it breaks, each problem named with its place. Records only; the tool prints them.
// Texts taken from files stay in code page 932. Working records are standard containers: an
// allocation failure ends the program (the module serves the tools, not the five functions).
#ifndef QOR3_CHECK_FILE_CHECK_H
#define QOR3_CHECK_FILE_CHECK_H

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "catalog/catalog_file.h"
#include "dict/dict_entry.h"
#include "dict/dict_format.h"

constexpr uint32_t kCheckProblemsListed = 50;  // problems listed per file; the rest are counted

struct CheckProblem {
  std::string place;
  std::string what;
};

struct CheckProblems {
  std::vector<CheckProblem> listed;  // the first kCheckProblemsListed
  uint64_t count = 0;
};

struct CheckRegion {
  uint32_t code;
  bool name1Read, name2Read;  // false when the name is not where its record points
  std::string name1, name2;
};

struct CheckNumberBlock {
  uint32_t size, first, last, items;
};

struct CheckEntryBlock {
  uint32_t size, region;
  std::string first, last;  // the index's address texts
  uint32_t entries, decompressed;
  bool complete;  // read, decompressed and decoded to its end
};

// What the walk of one dictionary file saw.
struct DictWalk {
  bool correction = false;
  uint64_t fileSize = 0;
  uint32_t edition1 = 0, edition2 = 0;
  uint32_t sizes[kDictSectionCount] = {};
  bool headerRead = false;  // the file holds a whole header (its values above are set)
  std::vector<CheckRegion> regions;
  uint32_t areaCodes = 0, extendedAreaCodes = 0;
  std::vector<CheckNumberBlock> numberBlocks;
  std::vector<CheckEntryBlock> entryBlocks;
  uint64_t entries = 0;
  CheckProblems problems;
};

// Called with every entry the walk decodes and the number of its entry block.
typedef std::function<void(const DictEntry&, uint32_t block)> CheckEntryVisitor;

// Walks the dictionary (correction: the correction file) at path. false with error when it
// cannot be opened.
bool Check_WalkDictionary(const std::string& path, bool correction, const CheckEntryVisitor& visit,
                          DictWalk* walk, std::string* error);

// A region record of a catalog, its names copied out of the image.
struct CheckCatalogRegion {
  uint32_t code;
  std::string name1, name2;
  uint32_t dictNumber;
};

struct CatalogWalk {
  std::vector<CatalogDictRow> dicts;
  std::vector<CheckCatalogRegion> regions;
  std::vector<std::pair<uint32_t, std::vector<uint32_t>>> prefixes;  // prefix, dictionaries
  CheckProblems problems;
};

// Walks the catalog file at path (which must be named qor9999.dct). false with error when it
// is not so named or cannot be opened.
bool Check_WalkCatalog(const std::string& path, CatalogWalk* walk, std::string* error);

// Whether the regular file at path is a catalog (by its magic or its name), a correction file
// (by its name).
bool Check_IsCatalogFile(const std::string& path);
bool Check_IsCorrectionFile(const std::string& path);

// What the check of a set gathers to tell which corrections can never apply: the newest copy
// of each dictionary with its regions, and every correction entry.
struct CheckSet {
  struct Dictionary {
    uint32_t edition1, edition2;
    std::vector<uint32_t> regions;
  };
  struct Correction {
    uint32_t region, version;
  };
  std::map<uint32_t, Dictionary> dictionaries;  // by dictionary number
  std::vector<Correction> corrections;
  bool correctionFile = false;
};

// One checked file: a dictionary or correction file, or a catalog.
struct CheckedFile {
  bool catalog = false;
  DictWalk dict;
  CatalogWalk catalogWalk;
  const CheckProblems& Problems() const { return catalog ? catalogWalk.problems : dict.problems; }
};

// Checks the regular file at path and adds what the correction report needs to set. false
// with error when it cannot be read.
bool Check_File(const std::string& path, CheckSet* set, CheckedFile* file, std::string* error);

// The corrections of a set that can never apply: version below the edition stamp of every
// dictionary listing their region, or a region no dictionary lists. Findings about the data,
// not problems of a file: a correction is meant to lapse once an edition holding it is
// installed.
struct LapsedRegion {
  uint32_t code;
  uint32_t count, lowest, highest;  // corrections, their lowest and highest version
  bool listed;                      // a dictionary lists the region
  uint32_t stamp;                   // the lowest edition stamp of those dictionaries
};
struct LapsedCorrections {
  bool judged = false;  // the set held dictionaries and the correction file
  size_t total = 0;     // corrections of the set
  uint32_t older = 0, unlisted = 0;
  std::vector<LapsedRegion> regions;  // by region code
};
LapsedCorrections Check_LapsedCorrections(const CheckSet& set);

// Whether the catalog of a dictionary directory can hold every dictionary file there (the
// refresh's rows of all of them, packed as the library packs them). false when it can;
// true with a message naming the limit and the dictionaries left out, which the library
// then does not search.
bool Check_CatalogLimits(const std::string& directory, std::string* message);

// Checks one dictionary or correction file as check does. true when it has no problem, else
// false with the first problem (or why it cannot be read) in problem.
bool Check_Dictionary(const std::string& path, std::string* problem);

// Whether the catalog of dir lists each of the dictionaries numbers (those below 5000, which
// alone are catalogued) with the edition values that its file in dir holds; false with the
// numbers it does not in problem.
bool Check_CatalogLists(const std::string& dir, const std::vector<uint32_t>& numbers,
                        std::string* problem);

// Number texts as check and inspect write them: a dictionary number of 9 or 10 digits, a code
// of width digits.
std::string Check_NumberText(uint32_t v);
std::string Check_Code(uint32_t v, int width);

#endif  // QOR3_CHECK_FILE_CHECK_H
