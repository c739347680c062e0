// brindlewave-cli: the converter's work without its windows. It drives the same core
// library as the desktop program.

#include "cli/commands.h"
#include "common/stopsignals.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    // A stop signal ends the tool within moments, whatever its workers are doing.
    const bw::TStopDeadline deadline;
    return bw::RunCli(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
