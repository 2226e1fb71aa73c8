// The reports of qor inspect and qor check: what the library's checker (check/file_check.h)
// finds in dictionary files (qorNNNN.dct, the correction file qor5001.dct) and catalog files
// (qor9999.dct), written as tables and problem lines.
#ifndef QOR3_TOOLS_QOR_DICT_CHECK_H
#define QOR3_TOOLS_QOR_DICT_CHECK_H

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

#endif  // QOR3_TOOLS_QOR_DICT_CHECK_H
