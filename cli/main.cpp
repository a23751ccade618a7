#include "cli/Cli.h"

int main(int argc, char** argv) {
    return zel::runCli(argc, argv);
}
