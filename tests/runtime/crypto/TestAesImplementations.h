/*****************************************************************
| TestAesImplementations.h - running a test on each AES implementation.
|
| kAesImplementations lists the implementations a test should cover;
| TVK_TEST_FORCE_AES(impl) selects one for the rest of the test (ciphers
| built from then on use it) and skips the test with a message when this
| machine cannot run it. The selection is undone at the end of the test.
|
| Header-only; test code only.
****************************************************************/
#ifndef TVK_TEST_AES_IMPLEMENTATIONS_H
#define TVK_TEST_AES_IMPLEMENTATIONS_H

#include <string>

#include "NptAes.h"

namespace tvk_test {

inline const NPT_AesImplementation kAesImplementations[] = {
    NPT_AES_IMPL_HARDWARE_X86, NPT_AES_IMPL_HARDWARE_ARM, NPT_AES_IMPL_PORTABLE};

// a name usable in a test name
inline std::string AesTestName(NPT_AesImplementation implementation)
{
    switch (implementation) {
        case NPT_AES_IMPL_HARDWARE_X86: return "X86";
        case NPT_AES_IMPL_HARDWARE_ARM: return "Arm";
        case NPT_AES_IMPL_PORTABLE:     return "Portable";
        default:                        return "Auto";
    }
}

class ForcedAes
{
public:
    explicit ForcedAes(NPT_AesImplementation implementation)
        : m_Result(NPT_AesSelectImplementation(implementation)) {}
    ~ForcedAes() { NPT_AesSelectImplementation(NPT_AES_IMPL_AUTO); }
    ForcedAes(const ForcedAes&) = delete;
    ForcedAes& operator=(const ForcedAes&) = delete;

    bool Ok() const { return m_Result == NPT_SUCCESS; }

private:
    NPT_Result m_Result;
};

} // namespace tvk_test

#define TVK_TEST_FORCE_AES(implementation)                                              \
    tvk_test::ForcedAes forced_aes_(implementation);                                    \
    if (!forced_aes_.Ok())                                                              \
    GTEST_SKIP() << NPT_AesImplementationName(implementation)                           \
                 << " AES is not available on this processor or in this build"

#endif // TVK_TEST_AES_IMPLEMENTATIONS_H
