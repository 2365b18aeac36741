// The plug-in's descriptive texts. pluginName() is also the text that starts
// every log line: one stored text, returned by getPluginName as well.
#pragma once

namespace cvts {

const char* pluginName();
const char* pluginDescription();
const char* pluginAuthor();
const char* pluginVersion();
const char* helpFile();
const char* guiScript();

} // namespace cvts
