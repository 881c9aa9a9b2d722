#include "app/ArgumentText.h"

namespace ArgumentText {

std::string fromArguments(int argc, char **argv)
{
    std::string text;
    for (int i = 1; i < argc; ++i)
        text += (i > 1 ? " " : "") + std::string(argv[i]);
    return text;
}

} // namespace ArgumentText
