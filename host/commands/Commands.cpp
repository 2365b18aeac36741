#include "host/commands/Command.h"

#include <algorithm>

namespace corvantis {

// Defined each in its own file; a new command adds one line here and one to the list.
extern const Command kRunCommand;
extern const Command kInfoCommand;
extern const Command kGenerateCommand;
extern const Command kSummaryCommand;
extern const Command kMakeSdmCommand;
#ifdef QUORVEX_HOST_NIFTI
extern const Command kRenderCommand;
#endif
#ifdef QUORVEX_HOST_COMPARE
extern const Command kCompareCommand;
extern const Command kGenerateStudyCommand;
extern const Command kStudyCommand;
#endif

namespace {

const std::vector<const Command*> kCommands = {
    &kRunCommand,     &kInfoCommand,          &kGenerateCommand, &kSummaryCommand, &kMakeSdmCommand,
#ifdef QUORVEX_HOST_NIFTI
    &kRenderCommand,
#endif
#ifdef QUORVEX_HOST_COMPARE
    &kCompareCommand, &kGenerateStudyCommand, &kStudyCommand,
#endif
};

} // namespace

const Command& defaultCommand() { return kRunCommand; }

const std::vector<const Command*>& allCommands() { return kCommands; }

const Command* findCommand(const std::string& name) {
    for (const Command* command : kCommands) {
        if (name == command->name) {
            return command;
        }
    }
    return nullptr;
}

std::string helpText(const Command& command) {
    std::string text = command.help;
    if (&command != &defaultCommand()) {
        return text;
    }
    text += "\nCommands (Corvantis COMMAND --help tells more):\n";
    for (const Command* listed : kCommands) {
        std::string name = listed->name;
        name.resize(std::max<std::size_t>(name.size(), 22), ' ');
        text += "  " + name + listed->summary + "\n";
    }
    return text;
}

} // namespace corvantis
