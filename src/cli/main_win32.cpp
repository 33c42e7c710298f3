#include "cli/driver.h"
#include "platform/platform.h"

// Built with -municode: the runtime hands over the arguments as wide strings.
int wmain(int argc, wchar_t** argv) {
    platform::prepareStandardStreams();
    platform::adoptArguments(argc, argv);
    return runCartolog();
}
