#include "cli/driver.h"

int main(int argc, char** argv) {
    platform::prepareStandardStreams();
    return runCartolog({argv, static_cast<std::size_t>(argc)});
}
