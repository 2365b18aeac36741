// The seven plain-named entry points through which the host knows the plug-in.
#include "plugin/CVTSPluginInterface.h"
#include "plugin/HostKit.h"
#include "plugin/PluginTexts.h"
#include "quorvex/quorvex.h"

extern "C" {

// The host owns the object from here on and deletes it through the base class.
CVTS_EXPORT CVTSPluginInterface* createPlugin() { return new quorvex(); }

CVTS_EXPORT const char* getPluginName() { return cvts::pluginName(); }
CVTS_EXPORT const char* getPluginDescription() { return cvts::pluginDescription(); }
CVTS_EXPORT const char* getAuthor() { return cvts::pluginAuthor(); }
CVTS_EXPORT const char* getPluginVersion() { return cvts::pluginVersion(); }
CVTS_EXPORT const char* getHelpFile() { return cvts::helpFile(); }
CVTS_EXPORT const char* getGUIScript() { return cvts::guiScript(); }

} // extern "C"
