#include "cli/driver.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    platform::prepareStandardStreams();
    platform::adoptArguments(argc, argv);
    return runCartolog();
}
