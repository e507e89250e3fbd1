// A GoogleTest main that runs every linked test on one AES
// implementation, named by the argument --aes=x86, --aes=arm or
// --aes=portable (without it, the implementation the library picks).
// Where this machine cannot run the one named, every test is skipped
// with a message saying so.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "NptAes.h"

namespace {

class ForcedAesEnvironment : public ::testing::Environment
{
public:
    explicit ForcedAesEnvironment(NPT_AesImplementation implementation)
        : m_Implementation(implementation) {}

    void SetUp() override
    {
        if (NPT_AesSelectImplementation(m_Implementation) != NPT_SUCCESS) {
            GTEST_SKIP() << NPT_AesImplementationName(m_Implementation)
                         << " AES is not available on this processor or in this build";
        }
    }
    void TearDown() override { NPT_AesSelectImplementation(NPT_AES_IMPL_AUTO); }

private:
    NPT_AesImplementation m_Implementation;
};

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    NPT_AesImplementation implementation = NPT_AES_IMPL_AUTO;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--aes=x86") implementation = NPT_AES_IMPL_HARDWARE_X86;
        else if (arg == "--aes=arm") implementation = NPT_AES_IMPL_HARDWARE_ARM;
        else if (arg == "--aes=portable") implementation = NPT_AES_IMPL_PORTABLE;
        else {
            std::fprintf(stderr, "unknown argument %s (expected --aes=x86|arm|portable)\n", argv[i]);
            return 2;
        }
    }
    ::testing::AddGlobalTestEnvironment(new ForcedAesEnvironment(implementation));
    return RUN_ALL_TESTS();
}
