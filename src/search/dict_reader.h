// Picking and reading the blocks of one dictionary file that can hold what a search wants:
// the number blocks whose range holds a key, the entry blocks their items name, and the loop
// that inflates the chosen entry blocks and hands over their entries one by one.
//
// A selection or collection step that meets damage returns -1 and keeps what it read safely
// before it, so going on with the lists it left is harmless.
#ifndef QOR3_SEARCH_DICT_READER_H
#define QOR3_SEARCH_DICT_READER_H

#include <cstdint>

#include "base/result.h"
#include "dict/decoded_block.h"
#include "dict/dict_entry.h"
#include "dict/dict_file.h"

struct SelectedBlock {
  uint32_t offset;  // from the start of the section's block data
  uint32_t size;    // compressed size
  uint32_t index;   // the block's record in its section's index
};

// Blocks chosen from section 5 or 6, and the group numbers (entry block positions) collected
// from number blocks. Per file and request.
struct BlockSelection {
  SelectedBlock selected[kSelectedBlockMax];
  uint16_t selectedCount;
  uint16_t groups[kEntryBlockMax];
  uint16_t groupCount;
};

// Selected blocks from section 5: records with first <= key <= last, up to the first record
// whose first number exceeds the key. The number index must have been read (-1 when that
// failed).
int Dict_SelectNumberBlocks(const DictFile* dict, uint32_t key, BlockSelection* selection);
// Appends the group numbers of the block's items equal to the key: kOk; kDamaged when the
// block gave nothing, was cut short (the group numbers taken before stand) or had more than
// the list holds (the first kEntryBlockMax stand).
Result Dict_CollectBlockGroups(const DecodedNumberBlock* block, uint32_t key,
                               BlockSelection* selection);
// Group numbers of every item equal to the key in the selected number blocks, read through
// buffer: kOk, kDamaged (a block as above), or kOutOfMemory (a block that cannot be inflated
// or decoded for want of memory: the walk stops there).
Result Dict_CollectGroups(const DictFile* dict, uint32_t key, DictBlockBuffer* buffer,
                          BlockSelection* selection);
// Appends a group number: 0, or -1 when the list already holds 256 (the number is dropped).
int Dict_AppendGroup(BlockSelection* selection, uint32_t group);
// Selected blocks from section 6: each entry block whose position is in the group list, once,
// in index order. The entry index must have been read (-1 when that failed or was cut).
int Dict_SelectEntryBlocks(const DictFile* dict, BlockSelection* selection);

// Called with each decoded entry; returns 0 to go on, non-zero to stop.
typedef int (*DictEntryHandler)(const DictEntry* entry, void* user);
// For each selected entry block: inflate it into buffer and decode its entries with decoder,
// calling handler after each one. A block that cannot be read or inflated is skipped. kOk;
// kDamaged when a block was skipped or cut short by a damaged entry; kOutOfMemory when a block
// could not be inflated for want of memory (the walk stops there).
Result Dict_ReadEntryBlocks(const DictFile* dict, const BlockSelection* selection,
                            DictBlockBuffer* buffer, DictDecoder* decoder, int variant,
                            DictEntryHandler handler, void* user);

#endif  // QOR3_SEARCH_DICT_READER_H
