#include "NptWipe.h"

void
NPT_WipeMemory(void* memory, std::size_t size)
{
    if (memory == nullptr) return;
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(memory);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = 0;
#if defined(__GNUC__) || defined(__clang__)
    // the memory may be inspected by anything: keep the stores
    __asm__ __volatile__("" : : "r"(memory) : "memory");
#endif
}
