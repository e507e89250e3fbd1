// QuotedName against the shell it quotes for: every byte of a name,
// quoted and read back by bash, gives the same name. Needs bash and
// popen, so it runs where the tool's messages meet a POSIX shell.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "QuotedName.h"
#include "ToolRunner.h"

namespace tvkcrypt_test {
namespace {

using tvkcrypt::QuotedName;

// Every byte value, alone and between letters: no control byte gets
// through raw, and bash reads the quoted form back as the original.
TEST(QuotedNameTest, BashReadsEveryByteBack)
{
    std::string script;
    std::vector<std::string> names;
    for (int byte = 1; byte < 256; ++byte) {
        std::string name = "a" + std::string(1, static_cast<char>(byte)) + "1";
        std::string quoted = QuotedName(name);
        for (char c : quoted) {
            unsigned char u = static_cast<unsigned char>(c);
            ASSERT_FALSE(u < 0x20 || u == 0x7F) << "raw control byte for " << byte;
        }
        names.push_back(name);
        script += "printf '%s\\0' " + quoted + "\n";
    }
    // popen's /bin/sh may not know $'...': bash runs a script file
    TempDir dir;
    WriteFile(dir / "script", script);
    FILE* shell = popen(("bash " + dir / "script").c_str(), "r");
    ASSERT_NE(shell, nullptr);
    std::string output;
    char buffer[4096];
    std::size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), shell)) > 0) output.append(buffer, got);
    ASSERT_EQ(pclose(shell), 0);
    std::vector<std::string> read_back;
    std::string::size_type start = 0, end;
    while ((end = output.find('\0', start)) != std::string::npos) {
        read_back.push_back(output.substr(start, end - start));
        start = end + 1;
    }
    EXPECT_EQ(read_back, names);
}

}  // namespace
}  // namespace tvkcrypt_test
