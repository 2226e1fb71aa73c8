// Correction merge: interleaves the correction file's additions into a stream of dictionary
// entries in entry order and drops the entries its deletions name.
#include "search/correction_merge.h"

#include <cstring>

#include "dict/dict_entry.h"
#include "search/result_builder.h"

namespace {

int CompareText(const char* a, const char* b) {
  int c = std::strcmp(a, b);
  return c > 0 ? 1 : (c < 0 ? -1 : 0);
}

template <size_t N>
void CopyField(char (&dst)[N], const char* src) {
  size_t n = std::strlen(src);
  if (n >= N) n = N - 1;
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

}  // namespace

bool Correction_NextRow(RowList* list, DictEntry* pending) {
  char* f[kResultRowFields];
  uint16_t n;
  if (RowList_Next(list, f, &n, kResultRowFields) != 0) return false;
  if (n != kResultRowFields) return false;
  CopyField(pending->kindText, f[0]);
  CopyField(pending->regionCodeText, f[1]);
  CopyField(pending->numberText, f[2]);
  CopyField(pending->postalText, f[3]);
  CopyField(pending->name, f[4]);
  CopyField(pending->regionName1, f[5]);
  CopyField(pending->regionName2, f[6]);
  CopyField(pending->address1, f[7]);
  CopyField(pending->address2, f[8]);
  return true;
}

namespace {

// Loads the next addition after one was consumed.
void AdvanceAddition(CorrectionMerge* c) {
  if (Correction_NextRow(&c->additions, &c->pendingAddition)) {
    c->pendingAdditionValid = 1;
  } else {
    c->pendingAdditionValid = 0;
    c->additionsActive = 0;
  }
}

}  // namespace

void CorrectionMerge_Init(CorrectionMerge* merge) {
  std::memset(merge, 0, sizeof *merge);
  RowList_Init(&merge->additions);
  RowList_Init(&merge->deletions);
}

void CorrectionMerge_Free(CorrectionMerge* merge) {
  RowList_Free(&merge->additions);
  RowList_Free(&merge->deletions);
}

int CorrectionMerge_Keep(CorrectionMerge* merge, const DictEntry* entry) {
  RowList* list = entry->correctionKind == kCorrectionAdd ? &merge->additions : &merge->deletions;
  return ResultRow_Append(list, entry);
}

int DictEntry_Compare(const DictEntry* a, const DictEntry* b) {
  int c;
  if ((c = CompareText(a->regionCodeText, b->regionCodeText)) != 0) return c;
  if ((c = CompareText(a->address1, b->address1)) != 0) return c;
  if ((c = CompareText(a->address2, b->address2)) != 0) return c;
  if ((c = CompareText(a->name, b->name)) != 0) return c;
  if ((c = CompareText(a->numberText, b->numberText)) != 0) return c;
  return CompareText(a->kindText, b->kindText);
}

void Correction_Start(CorrectionMerge* c) {
  c->additionsActive = c->additions.rowCount > 0 ? 1 : 0;
  if (c->additionsActive) {
    DictEntry_Reset(&c->pendingAddition);
    c->pendingAdditionValid = 0;
    RowList_Rewind(&c->additions);
  }
  Correction_StartDeletions(c);
}

void Correction_StartDeletions(CorrectionMerge* c) {
  c->deletionsActive = c->deletions.rowCount > 0 ? 1 : 0;
  if (c->deletionsActive) {
    DictEntry_Reset(&c->pendingDeletion);
    RowList_Rewind(&c->deletions);
  }
}

int Correction_MergeStep(const DictEntry* entry, CorrectionMerge* c) {
  if (c->additionsActive) {
    if (c->pendingAddition.regionCodeText[0] == '\0') {
      c->pendingAdditionValid = 0;
      if (!Correction_NextRow(&c->additions, &c->pendingAddition)) {
        c->additionsActive = 0;
        return 1;
      }
      c->pendingAdditionValid = 1;
    }
    int r = DictEntry_Compare(entry, &c->pendingAddition);
    if (r > 0) {
      std::memcpy(&c->output, &c->pendingAddition, sizeof c->output);
      AdvanceAddition(c);
      return 0;
    }
    if (r == 0) AdvanceAddition(c);  // the dictionary's copy stands for the addition
  }
  if (c->deletionsActive) {
    int d = DictEntry_Compare(entry, &c->pendingDeletion);
    while (d > 0) {
      if (!Correction_NextRow(&c->deletions, &c->pendingDeletion)) {
        c->deletionsActive = 0;
        break;
      }
      d = DictEntry_Compare(entry, &c->pendingDeletion);
    }
    return d == 0 ? -1 : 1;
  }
  return 1;
}

int Correction_Finish(CorrectionMerge* c, RowList* rows) {
  if (!c->additionsActive) return 0;
  if (c->pendingAdditionValid) {
    c->pendingAdditionValid = 0;
    if (ResultRow_Append(rows, &c->pendingAddition) != 0) return -1;
  }
  char* f[kResultRowFields];
  uint16_t n;
  while (RowList_Next(&c->additions, f, &n, kResultRowFields) == 0) {
    if (RowList_Append(rows, f, n) != 0) return -1;
  }
  return 0;
}
