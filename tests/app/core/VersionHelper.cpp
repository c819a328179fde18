// Prints the file version of its own executable, for FileVersionTest: built
// once with a version note and once without.
#include "app/FileVersion.h"

#include <cstdio>

int main()
{
    std::fputs(GetFileVersionString().c_str(), stdout);
    return 0;
}
