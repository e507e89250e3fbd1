/*****************************************************************
| Hardening.h - keeping a process's secrets to itself: no core dumps,
| memory for passwords and keys that is neither dumped nor swapped, and
| standard descriptors that no file can take over.
|
| Called first thing in main (DisableCoreDumps, GuardStandardDescriptors)
| and wherever a secret is held (AllocateSecretMemory). Best effort
| where the system limits it (locked memory for unprivileged users);
| nothing here reports a failure but an allocation that fails. Any
| thread.
****************************************************************/
#ifndef TVKCRYPT_HARDENING_H
#define TVKCRYPT_HARDENING_H

#include <cstddef>

namespace tvkcrypt {

// Turns core dumps off for this process (and makes it undumpable, so
// that other processes of the same user cannot read its memory).
void DisableCoreDumps();
// Memory for secrets: never swapped out where the system allows it,
// never in a core dump, zero-filled. Null when out of memory.
void* AllocateSecretMemory(std::size_t size);
// Wipes and frees what AllocateSecretMemory gave.
void FreeSecretMemory(void* memory, std::size_t size);
// Keeps the pages that hold size bytes at address (a secret in memory
// allocated elsewhere, such as a key schedule in a library's object) out
// of swap, where the system allows it, until the process ends; the
// object's owner still wipes it.
void LockSecretRange(const void* address, std::size_t size);
// Makes sure descriptors 0, 1 and 2 are open, so that no file the tool
// opens lands on one of them. A closed standard input or output is
// replaced by /dev/null opened the wrong way round, so that using it
// fails visibly (EBADF) instead of silently reading or writing nothing.
void GuardStandardDescriptors();

}  // namespace tvkcrypt

#endif  // TVKCRYPT_HARDENING_H
