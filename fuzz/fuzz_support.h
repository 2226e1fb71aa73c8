// Helpers shared by the fuzz targets: splitting an input into parts, building good dictionary
// sets in a scratch directory, a block form of dictionary files that mutations can reach
// through, checks of search answers, and writing seed inputs.
#ifndef QOR3_FUZZ_FUZZ_SUPPORT_H
#define QOR3_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "qor3.h"

// Takes bytes up to the next 0x00 (or the end) from the input and steps over the separator.
std::string Fuzz_TakeText(const uint8_t** data, size_t* size);
// Takes one byte, a big-endian u32, or up to n bytes (zeros / what is left when the input is
// used up).
uint8_t Fuzz_TakeByte(const uint8_t** data, size_t* size);
uint32_t Fuzz_TakeU32(const uint8_t** data, size_t* size);
std::string Fuzz_TakeBytes(const uint8_t** data, size_t* size, size_t n);

// Listings of the sample set, as qor-mkdict's TSV input: dictionary 0101 holds regions 13101
// and 13102, 0102 region 27100; the correction file adds to and removes from both, with
// versions of both forms of the correction word (below 2048, and a month from 2021 on).
extern const char kFuzzTsv0101[];
extern const char kFuzzTsv0102[];
extern const char kFuzzCorrectionTsv[];
// Numbers of the sample listings, as a host types them.
extern const char* const kFuzzSampleNumbers[];
extern const size_t kFuzzSampleNumberCount;

// A dictionary image from TSV text, with small blocks so that files have several of each kind;
// aborts when the builder refuses (the sample data are ours).
std::vector<uint8_t> Fuzz_BuildDict(const char* tsv, bool correction, uint32_t edition1);

// UTF-8 text in code page 932, full-width forms when fullWidth (names, address text 1); aborts
// when it cannot be converted.
std::string Fuzz_Cp932(const char* utf8, bool fullWidth);

// A new empty directory under /dev/shm (or the temporary directory), removed at exit; ends with
// the separator.
std::string Fuzz_MakeDir(const char* name);
void Fuzz_WriteFile(const std::string& path, const void* data, size_t size);
void Fuzz_RemoveFile(const std::string& path);
std::vector<uint8_t> Fuzz_ReadFile(const std::string& path);
// Sets a file's modification time to a fixed instant, so catalogs written in different runs
// judge the file alike.
void Fuzz_SetFixedTime(const std::string& path);

// The block form of a dictionary image: every number and entry block stored decompressed, the
// index records holding the decompressed sizes. Fuzz_ToBlockForm fails (false) when a block does
// not decompress or its decompressed size does not fit an index record. Fuzz_FromBlockForm
// compresses each block again and fixes sizes; parts that do not parse are kept as they are.
bool Fuzz_ToBlockForm(const std::vector<uint8_t>& image, std::vector<uint8_t>* out);
std::vector<uint8_t> Fuzz_FromBlockForm(const uint8_t* data, size_t size);

// An OpenRequest naming the directories ("" skips one).
OpenRequest Fuzz_OpenRequest(const std::string& dir1, const std::string& dir2,
                             const std::string& correction);
// Runs a search and checks what it handed back: with resultCount 0 the pointers are untouched,
// otherwise every record and text is there with its stated length. Releases the results.
// The search runs again, its engine cache warm, and (test builds) once more without the
// cache: the answers must be alike. Aborts on a broken answer. Returns resultCount.
uint32_t Fuzz_SearchAndCheck(void* handle, SearchRequest* request);
// Request records for the two searches; texts longer than their field are cut.
SearchRequest Fuzz_NumberRequest(const std::string& key);
SearchRequest Fuzz_NameRequest(uint32_t regionCode, uint32_t kindFilter, const std::string& pattern,
                               const std::string& address1, const std::string& address2);
// Checks an open's region list: every record there, names NUL-terminated with their lengths.
void Fuzz_CheckOpenResult(const OpenResult& result);

// Seed writing: when the environment names a seed directory (QOR3_FUZZ_SEEDS), a target writes
// its seeds there from its initialiser and exits. Fuzz_SeedDir is null otherwise.
const char* Fuzz_SeedDir();
void Fuzz_WriteSeed(const char* name, const std::vector<uint8_t>& bytes);
// Input prefix (the given bytes and texts, each text followed by 0x00) plus a body.
std::vector<uint8_t> Fuzz_Join(const std::vector<uint8_t>& bytes,
                               const std::vector<std::string>& texts,
                               const std::vector<uint8_t>& body);

#endif  // QOR3_FUZZ_FUZZ_SUPPORT_H
