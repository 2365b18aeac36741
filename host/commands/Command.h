// One sub-command of the host program: "Corvantis NAME ARGS...". Each lives in
// its own file in host/commands/ with its help text and its run, and is listed
// once in Commands.cpp.
#pragma once

#include <string>
#include <vector>

#include "host/commands/CommandLine.h"

namespace corvantis {

struct Command {
    const char* name;
    const char* summary; // one line for the list of commands
    const char* help;    // the whole text of "Corvantis NAME --help"
    // The options the command reads; its help describes each of them and no other.
    const std::vector<OptionSpec>* options;
    // The arguments after the command's name. Returns the exit status; throws
    // UsageError for a mistake in the arguments.
    int (*run)(const std::vector<std::string>& args);
};

// The command that runs when the first argument names none: the plug-in run.
const Command& defaultCommand();

// Every command, in the order the help lists them.
const std::vector<const Command*>& allCommands();

// Null when no command has that name.
const Command* findCommand(const std::string& name);

// The --help text: the default command's help is followed by the list of commands.
std::string helpText(const Command& command);

} // namespace corvantis
