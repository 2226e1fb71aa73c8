// Correction merge: interleaves the correction file's additions into a stream of dictionary
// entries in entry order and drops the entries its deletions name.
#ifndef QOR3_SEARCH_CORRECTION_MERGE_H
#define QOR3_SEARCH_CORRECTION_MERGE_H

#include "base/row_list.h"
#include "search/dict_reader.h"

// Entry order: region code text, address text 1, address text 2, name, number text, entry
// kind text, each compared bytewise unsigned. 1, -1 or 0.
int DictEntry_Compare(const DictEntry* a, const DictEntry* b);

// Arms the merge from the correction context's additions (resultRows) and deletions
// (secondRows) lists.
void Correction_Start(SearchContext* correction);
// Rewinds the deletions alone. The hits of one dictionary are one ascending run; a search
// that reads several dictionaries starts the deletions again for each, so that a deletion
// also removes its entry from a dictionary read after one whose hits went past it.
void Correction_StartDeletions(SearchContext* correction);
// For one accepted dictionary entry: 0 = emit correction->output first and call again with
// the same entry; 1 = emit the entry; -1 = drop it.
int Correction_MergeStep(const DictEntry* entry, SearchContext* correction);
// Loads the list's next result row into entry: true, or false at the end of the list.
bool Correction_NextRow(RowList* list, DictEntry* entry);
// Appends the additions not yet emitted to rows. 0, or -1 when an append fails.
int Correction_Finish(SearchContext* correction, RowList* rows);

#endif  // QOR3_SEARCH_CORRECTION_MERGE_H
