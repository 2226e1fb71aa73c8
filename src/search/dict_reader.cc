// Picking and reading the blocks of one dictionary file that can hold what a search wants.
#include "search/dict_reader.h"

#include "base/damage.h"

int Dict_SelectNumberBlocks(DictFile* dict, uint32_t key, BlockSelection* selection) {
  selection->selectedCount = 0;
  if (dict->numberIndex == nullptr && Dict_ReadNumberIndex(dict) != 0 &&
      dict->numberIndex == nullptr) {
    return -1;
  }
  for (uint32_t k = 0; k < dict->numberIndexCount; ++k) {
    const NumberIndexRecord& record = dict->numberIndex[k];
    if (record.first > key) return 0;
    if (key <= record.last) {
      // More than 256 matching blocks: the first 256 are kept.
      QOR_CHECK(selection->selectedCount < kSelectedBlockMax);
      selection->selected[selection->selectedCount++] = SelectedBlock{record.offset, record.size};
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

int Dict_CollectGroups(const DictFile* dict, uint32_t key, DictBlockBuffer* buffer,
                       BlockSelection* selection) {
  selection->groupCount = 0;
  int result = 0;
  for (uint32_t i = 0; i < selection->selectedCount; ++i) {
    const SelectedBlock& block = selection->selected[i];
    // A block that cannot be read or inflated gives no group number.
    if (Dict_LoadBlock(dict, 5, block.offset, block.size, buffer) != 0) {
      result = -1;
      continue;
    }
    NumberItemReader items{buffer->data, buffer->length, 0};
    uint64_t sum = 0;
    uint32_t delta = 0;
    uint8_t group = 0;
    int more;
    while ((more = NumberItem_Next(&items, &delta, &group)) == 1) {
      sum += delta;
      if (sum == key && Dict_AppendGroup(selection, group) != 0) return -1;
    }
    // An item cut off by the end of the block: the group numbers taken before it stand.
    if (more < 0) result = -1;
  }
  return result;
}

int Dict_SelectEntryBlocks(DictFile* dict, BlockSelection* selection) {
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
  if (dict->entryIndex == nullptr) {
    if (Dict_ReadEntryIndex(dict) != 0) result = -1;
  } else if (dict->entryIndexCut) {
    result = -1;
  }
  for (uint32_t k = 0; k < dict->entryIndexCount; ++k) {
    if (marked[k]) {
      const EntryIndexRecord& record = dict->entryIndex[k];
      selection->selected[selection->selectedCount++] =
          SelectedBlock{record.offset, record.compressedSize};
    }
  }
  return result;
}

int Dict_ReadEntryBlocks(const DictFile* dict, const BlockSelection* selection,
                         DictBlockBuffer* buffer, DictDecoder* decoder, int variant,
                         DictEntryHandler handler, void* user) {
  const RegionTable regions = Dict_RegionTable(dict);
  int result = 0;
  for (uint32_t i = 0; i < selection->selectedCount; ++i) {
    const SelectedBlock& block = selection->selected[i];
    if (Dict_LoadBlock(dict, 6, block.offset, block.size, buffer) != 0) {
      result = -1;
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
    if (position < buffer->length) result = -1;
  }
  return result;
}
