/*****************************************************************
| NptWipe.h - wiping of secret memory.
|
| Keys, passwords and key streams are overwritten with zeros before
| their memory is released. NPT_WipeMemory writes through a volatile
| pointer and is followed by a compiler barrier, so the stores cannot be
| removed as dead by the optimiser.
****************************************************************/
#ifndef NPT_WIPE_H
#define NPT_WIPE_H

#include <cstddef>

#include "NptExport.h"

NPT_EXPORT void NPT_WipeMemory(void* memory, std::size_t size);

#endif // NPT_WIPE_H
