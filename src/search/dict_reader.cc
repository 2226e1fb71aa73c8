// Picking and reading the blocks of one dictionary file that can hold what a search wants.
#include "search/dict_reader.h"

#include "base/damage.h"
#include "base/mem.h"

int Dict_SelectNumberBlocks(const DictFile* dict, uint32_t key, BlockSelection* selection) {
  selection->selectedCount = 0;
  if (dict->numberIndex == nullptr) return -1;
  for (uint32_t k = 0; k < dict->numberIndexCount; ++k) {
    const NumberIndexRecord& record = dict->numberIndex[k];
    if (record.first > key) return 0;
    if (key <= record.last) {
      // More than 256 matching blocks: the first 256 are kept.
      QOR_CHECK(selection->selectedCount < kSelectedBlockMax);
      selection->selected[selection->selectedCount++] = SelectedBlock{record.offset, record.size, k};
    }
  }
  // The index was cut at a damaged record: the walk fails there unless that record's first
  // number already ends it.
  if (dict->numberIndexCut == 2 && dict->numberCutFirst > key) return 0;
  return dict->numberIndexCut != 0 ? QOR_DAMAGED() : 0;
}

int Dict_AppendGroup(BlockSelection* selection, uint32_t group) {
  // More than 256 group numbers: the first 256 are kept.
  QOR_CHECK(selection->groupCount < kEntryBlockMax);
  selection->groups[selection->groupCount++] = static_cast<uint16_t>(group);
  return 0;
}

Result Dict_CollectBlockGroups(const DecodedNumberBlock* block, uint32_t key,
                               BlockSelection* selection) {
  // A block that cannot be read or inflated gives no group number.
  if (block->failed) return Result::kDamaged;
  uint32_t first = 0, end = 0;
  DecodedNumberBlock_Find(block, key, &first, &end);
  for (uint32_t i = first; i < end; ++i) {
    if (Dict_AppendGroup(selection, block->groups[i]) != 0) return Result::kDamaged;
  }
  // An item cut off by the end of the block: the group numbers taken before it stand.
  return block->cut ? Result::kDamaged : Result::kOk;
}

Result Dict_CollectGroups(const DictFile* dict, uint32_t key, DictBlockBuffer* buffer,
                          BlockSelection* selection) {
  selection->groupCount = 0;
  Result result = Result::kOk;
  for (uint32_t i = 0; i < selection->selectedCount; ++i) {
    const SelectedBlock& selected = selection->selected[i];
    DecodedNumberBlock block{nullptr, nullptr, 0, 1, 0};
    void* storage = nullptr;
    const Result loaded = Dict_LoadBlock(dict, 5, selected.offset, selected.size, buffer);
    if (loaded == Result::kOutOfMemory) return loaded;
    if (loaded == Result::kOk) {
      storage = Mem_Alloc(DecodedNumberBlock_Bytes(buffer->length));
      if (storage == nullptr) return Result::kOutOfMemory;
      DecodedNumberBlock_Build(buffer->data, buffer->length, storage, &block);
    }
    if (Dict_CollectBlockGroups(&block, key, selection) != Result::kOk) result = Result::kDamaged;
    Mem_Free(storage);
  }
  return result;
}

int Dict_SelectEntryBlocks(const DictFile* dict, BlockSelection* selection) {
  selection->selectedCount = 0;
  uint8_t marked[kEntryBlockMax] = {};
  int result = 0;
  for (uint32_t i = 0; i < selection->groupCount; ++i) {
    // A group number past the last addressable block selects nothing.
    if (selection->groups[i] >= kEntryBlockMax) {
      result = QOR_DAMAGED();
      continue;
    }
    marked[selection->groups[i]] = 1;
  }
  if (dict->entryIndex == nullptr || dict->entryIndexCut) result = -1;
  for (uint32_t k = 0; k < dict->entryIndexCount; ++k) {
    if (marked[k]) {
      const EntryIndexRecord& record = dict->entryIndex[k];
      selection->selected[selection->selectedCount++] =
          SelectedBlock{record.offset, record.compressedSize, k};
    }
  }
  return result;
}

Result Dict_ReadEntryBlocks(const DictFile* dict, const BlockSelection* selection,
                            DictBlockBuffer* buffer, DictDecoder* decoder, int variant,
                            DictEntryHandler handler, void* user) {
  const RegionTable regions = Dict_RegionTable(dict);
  Result result = Result::kOk;
  for (uint32_t i = 0; i < selection->selectedCount; ++i) {
    const SelectedBlock& block = selection->selected[i];
    const Result loaded = Dict_LoadBlock(dict, 6, block.offset, block.size, buffer);
    if (loaded == Result::kOutOfMemory) return loaded;
    if (loaded != Result::kOk) {
      result = Result::kDamaged;
      continue;
    }
    DictDecoder_StartBlock(decoder);
    uint32_t position = 0;
    while (DictEntry_Decode(decoder, &regions, buffer->data, buffer->length, &position,
                            variant) == 0) {
      if (handler(decoder->entry, user) != 0) return result;
    }
    // Decoding stopped before the end: that entry was damaged and the rest of the block is
    // given up; the entries handed over before it stand.
    if (position < buffer->length) result = Result::kDamaged;
  }
  return result;
}
