#include "cli/driver.h"

// Built with -municode: the runtime hands over the arguments as wide strings.
int wmain(int argc, wchar_t** argv) {
    platform::prepareStandardStreams();
    return runCartolog({argv, static_cast<std::size_t>(argc)});
}
