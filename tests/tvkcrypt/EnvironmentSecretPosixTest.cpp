// TVK_PASSWORD on POSIX: taken as bytes, wiped where it lay in the
// environment, and removed, whatever the outcome.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstring>
#include <string>

#include "SystemText.h"

using namespace tvkcrypt;

namespace {

const char kName[] = "TVK_TEST_ENVIRONMENT_SECRET";

TEST(EnvironmentSecret, TakesTheBytesWipesThemWhereTheyLayAndRemovesTheVariable)
{
    struct Case {
        const char*       value;     // nullptr: unset
        std::size_t       capacity;
        EnvironmentSecret outcome;
        const char*       taken;
    } cases[] = {
        {"caf\xc3\xa9", 8, SECRET_PRESENT, "caf\xc3\xa9"},
        {"caf\xe9", 4, SECRET_PRESENT, "caf\xe9"},  // not UTF-8: bytes are bytes here
        {"exactly8", 8, SECRET_PRESENT, "exactly8"},
        {"ninebytes", 8, SECRET_TOO_LONG, ""},
        {"", 8, SECRET_ABSENT, ""},
        {nullptr, 8, SECRET_ABSENT, ""},
    };
    for (const Case& c : cases) {
        char* held = nullptr;
        std::size_t size = 0;
        if (c.value != nullptr) {
            ASSERT_EQ(setenv(kName, c.value, 1), 0);
            held = getenv(kName);
            ASSERT_NE(held, nullptr);
            size = std::strlen(held);
        } else {
            unsetenv(kName);
        }
        char buffer[16];
        std::memset(buffer, 'x', sizeof(buffer));
        std::size_t length = 99;
        EXPECT_EQ(TakeEnvironmentSecret(kName, buffer, c.capacity, length), c.outcome) << c.taken;
        EXPECT_EQ(std::string(buffer, length), c.taken);
        if (c.outcome != SECRET_PRESENT) {
            EXPECT_EQ(buffer[0], 'x') << "nothing copied";
        }
        EXPECT_EQ(getenv(kName), nullptr) << "still set";
        // glibc keeps the strings that setenv made, so the old value can
        // still be looked at
        for (std::size_t i = 0; held != nullptr && i < size; ++i) {
            EXPECT_EQ(held[i], '\0') << "byte " << i << " of the value was not wiped";
        }
    }
}

}  // namespace
