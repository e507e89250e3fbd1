// Fuzz target for tvkcrypt's command line: the input, cut at NUL bytes,
// becomes argv (after the program name). Whatever it holds, parsing
// either succeeds with a consistent result or fails with a message,
// and never reads past an argument or past argv.

#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "Options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // each argument in its own block, so that reading past one is caught
    std::vector<std::string> arguments(1);
    for (std::size_t i = 0; i < size && arguments.size() < 64; ++i) {
        if (data[i] == 0) {
            arguments.emplace_back();
        } else {
            arguments.back().push_back(static_cast<char>(data[i]));
        }
    }
    std::vector<std::vector<char>> blocks;
    blocks.push_back(std::vector<char>{'t', 'v', 'k', 'c', 'r', 'y', 'p', 't', '\0'});
    for (const std::string& argument : arguments) {
        blocks.emplace_back(argument.begin(), argument.end());
        blocks.back().push_back('\0');
    }
    std::vector<const char*> argv;
    for (const std::vector<char>& block : blocks) argv.push_back(block.data());
    argv.push_back(nullptr);

    tvkcrypt::Options options;
    std::string       error;
    bool ok = tvkcrypt::ParseCommandLine(static_cast<int>(blocks.size()), argv.data(), options, error);
    if (ok) {
        FUZZ_CHECK(options.action != tvkcrypt::Options::RUN ||
                   options.command != tvkcrypt::Options::NONE);
        FUZZ_CHECK(!options.input.empty() && !options.output.empty());
        FUZZ_CHECK(options.action != tvkcrypt::Options::RUN ||
                   options.command == tvkcrypt::Options::DECRYPT ||
                   !(options.has_offset || options.has_length));
        FUZZ_CHECK(error.empty());
    } else {
        FUZZ_CHECK(!error.empty());
    }
    return 0;
}
