#include "plugin/PluginTexts.h"

namespace cvts {

namespace {

// Constant arrays: each function hands out the same address for as long as the
// library is loaded, and nothing needs constructing at load time.
constexpr char kName[] = "Quorvex";
constexpr char kDescription[] = "Compares 2 different SDM models against each other";
constexpr char kAuthor[] = "<i>QV</i>";
constexpr char kVersion[] = "1.0";
constexpr char kHelpFile[] = "HelpFolder/index.html";
constexpr char kGuiScript[] = "Quorvex.js";

} // namespace

const char* pluginName() { return kName; }
const char* pluginDescription() { return kDescription; }
const char* pluginAuthor() { return kAuthor; }
const char* pluginVersion() { return kVersion; }
const char* helpFile() { return kHelpFile; }
const char* guiScript() { return kGuiScript; }

} // namespace cvts
