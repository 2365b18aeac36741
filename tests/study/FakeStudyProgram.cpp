// "study" with the stand-in comparison, as a program, for the tests that run
// the study from the command line and through the Snakemake workflow.
#include <exception>
#include <iostream>

#include "FakeComparison.h"
#include "host/commands/CommandLine.h"
#include "host/commands/StudyCommand.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args.front() == "study") args.erase(args.begin());
    try {
        return corvantis::runStudyCommand(args, studytest::fakeComparison());
    } catch (const corvantis::UsageError& error) {
        std::cerr << "Corvantis: " << error.what() << std::endl;
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "Corvantis: error: " << error.what() << std::endl;
        return 1;
    }
}
