// The figures under Wine. Arguments: "quick" for the short sizes, "count" to
// count instructions under callgrind instead of timing; then the figures to
// run ("decode", "path"); none names both.

#include <cstring>

#include "bench/wine/WineBench.h"

int main(int argc, char** argv) {
    DravloBench::Sizes sizes;
    bool decode = false;
    bool path = false;
    auto measure = DravloBench::Measure::Time;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "quick") == 0) sizes = DravloBench::quickSizes();
        if (std::strcmp(argv[i], "count") == 0) measure = DravloBench::Measure::Count;
        decode |= std::strcmp(argv[i], "decode") == 0;
        path |= std::strcmp(argv[i], "path") == 0;
    }
    if (!decode && !path) decode = path = true;
    if (decode) DravloBench::sinkDecode(sizes, measure);
    if (path) DravloBench::wholePath(sizes, measure);
    return 0;
}
