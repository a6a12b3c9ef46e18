// Runs the fuzz target once on each file named on the command line, without
// libFuzzer: the committed inputs under the host build's sanitizers. An input
// whose name ends in "-good" is a whole good exchange: its operation must
// succeed, or the seed no longer reaches as deep as it was written to.
#include "fuzz/ReplyFuzz.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: %s INPUT...\n", argv[0]);
        return 2;
    }
    int failed = 0;
    for (int i = 1; i < argc; ++i)
    {
        std::ifstream in(argv[i], std::ios::binary);
        if (!in)
        {
            std::fprintf(stderr, "%s: cannot read\n", argv[i]);
            return 2;
        }
        const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(data.data(), data.size());
        std::printf("%s: %s returned %d\n", argv[i], LastOperation(), LastResult());
        const std::size_t n = std::strlen(argv[i]);
        if (n >= 5 && std::strcmp(argv[i] + n - 5, "-good") == 0 && LastResult() != 1)
        {
            std::fprintf(stderr, "%s: a good exchange failed\n", argv[i]);
            failed = 1;
        }
    }
    return failed;
}
