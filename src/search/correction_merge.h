// Correction merge: interleaves the correction file's additions into a stream of dictionary
// entries in entry order and drops the entries its deletions name.
#ifndef QOR3_SEARCH_CORRECTION_MERGE_H
#define QOR3_SEARCH_CORRECTION_MERGE_H

#include "base/row_list.h"
#include "dict/dict_format.h"

// The correction file's entries that apply to a search, and the state of merging them into
// the search's stream of dictionary entries.
struct CorrectionMerge {
  RowList additions;  // result rows, in entry order
  RowList deletions;
  uint16_t additionsActive;
  uint16_t deletionsActive;
  DictEntry pendingAddition;
  DictEntry pendingDeletion;
  DictEntry output;
  uint8_t pendingAdditionValid;
};

void CorrectionMerge_Init(CorrectionMerge* merge);
void CorrectionMerge_Free(CorrectionMerge* merge);
// Appends a correction entry to the additions (kind add) or the deletions list. 0 or -1 (out
// of memory).
int CorrectionMerge_Keep(CorrectionMerge* merge, const DictEntry* entry);

// Entry order: region code text, address text 1, address text 2, name, number text, entry
// kind text, each compared bytewise unsigned. 1, -1 or 0.
int DictEntry_Compare(const DictEntry* a, const DictEntry* b);

// Arms the merge from the additions and deletions lists.
void Correction_Start(CorrectionMerge* merge);
// Rewinds the deletions alone. The hits of one dictionary are one ascending run; a search
// that reads several dictionaries starts the deletions again for each, so that a deletion
// also removes its entry from a dictionary read after one whose hits went past it.
void Correction_StartDeletions(CorrectionMerge* merge);
// For one accepted dictionary entry: 0 = emit merge->output first and call again with the
// same entry; 1 = emit the entry; -1 = drop it.
int Correction_MergeStep(const DictEntry* entry, CorrectionMerge* merge);
// Loads the list's next result row into entry: true, or false at the end of the list.
bool Correction_NextRow(RowList* list, DictEntry* entry);
// Appends the additions not yet emitted to rows. 0, or -1 when an append fails.
int Correction_Finish(CorrectionMerge* merge, RowList* rows);

#endif  // QOR3_SEARCH_CORRECTION_MERGE_H
