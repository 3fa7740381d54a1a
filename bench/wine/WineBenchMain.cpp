// The figures under Wine. Arguments: "quick" for the short sizes; then the
// figures to run ("decode", "path"); none names both.

#include <cstring>

#include "bench/wine/WineBench.h"

int main(int argc, char** argv) {
    DravloBench::Sizes sizes;
    bool decode = false;
    bool path = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "quick") == 0) sizes = DravloBench::quickSizes();
        decode |= std::strcmp(argv[i], "decode") == 0;
        path |= std::strcmp(argv[i], "path") == 0;
    }
    if (!decode && !path) decode = path = true;
    if (decode) DravloBench::sinkDecode(sizes);
    if (path) DravloBench::wholePath(sizes);
    return 0;
}
