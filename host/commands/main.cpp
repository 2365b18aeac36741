// Corvantis, the substitute host: picks the sub-command and reports what ends it.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "host/commands/Command.h"
#include "host/commands/CommandLine.h"
#include "host/core/BinaryConsole.h"
#include "host/core/SignalCleanup.h"

int main(int argc, char** argv) {
    // First, before any thread starts: every thread must inherit the blocked signals.
    corvantis::removeRegisteredFoldersOnSignal();
    corvantis::useBinaryStandardStreams();
    std::vector<std::string> args(argv + 1, argv + argc);
    const corvantis::Command* command = &corvantis::defaultCommand();
    if (!args.empty()) {
        if (const corvantis::Command* named = corvantis::findCommand(args.front())) {
            command = named;
            args.erase(args.begin());
        }
    }
    try {
        return command->run(args);
    } catch (const corvantis::UsageError& error) {
        std::cerr << "Corvantis: " << error.what() << "\n\n" << corvantis::helpText(*command) << std::flush;
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "Corvantis: error: " << error.what() << std::endl;
        return 1;
    }
}
