// Inspecting and checking dictionary files (qorNNNN.dct, the correction file qor5001.dct)
// and catalog files (qor9999.dct) with the engine's own checked readers: what a file holds,
// and every limit, offset, block and the entry order, each problem named with its place.
#ifndef QOR3_TOOLS_QOR_DICT_CHECK_H
#define QOR3_TOOLS_QOR_DICT_CHECK_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Writes what the file holds (header, sections and their sizes, region table, block indexes;
// every entry with entries) and the problems found. false with error when the file cannot
// be opened.
bool Inspect_File(const std::string& path, bool entries, FILE* out, std::string* error);

// Checks files, and every qorNNNN.dct file of directories, as one set. Writes one line per
// file ("ok" or its problems; only problems when quiet) and returns the number of problems,
// or -1 with error when a path cannot be read. progress: a progress bar on stderr. When the
// set holds dictionaries and the correction file, it then reports the corrections that can
// never apply (version below the edition stamp of every dictionary listing their region, or
// a region no dictionary lists), by region; they are not counted as problems.
int Check_Set(const std::vector<std::string>& paths, bool quiet, bool progress, FILE* out,
              std::string* error);

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

#endif  // QOR3_TOOLS_QOR_DICT_CHECK_H
