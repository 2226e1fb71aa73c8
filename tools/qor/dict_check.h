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

// Checks one file, or every qor*.dct file of a directory. Writes one line per file ("ok" or
// its problems; only problems when quiet) and returns the number of problems, or -1 with
// error when the path cannot be read. progress: a progress bar on stderr.
int Check_Path(const std::string& path, bool quiet, bool progress, FILE* out, std::string* error);

// Checks one dictionary or correction file as check does. true when it has no problem, else
// false with the first problem (or why it cannot be read) in problem.
bool Check_Dictionary(const std::string& path, std::string* problem);

// Whether the catalog of dir lists each of the dictionaries numbers (those below 5000, which
// alone are catalogued) with the edition values that its file in dir holds; false with the
// numbers it does not in problem.
bool Check_CatalogLists(const std::string& dir, const std::vector<uint32_t>& numbers,
                        std::string* problem);

#endif  // QOR3_TOOLS_QOR_DICT_CHECK_H
