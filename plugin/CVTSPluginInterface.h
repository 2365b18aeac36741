// The host kit's abstract plug-in base class. Slot order of the virtual table:
// destructor, execute, initPlugin.
#pragma once

#include "plugin/HostKit.h"

class CVTS_EXPORT CVTSPluginInterface {
public:
    CVTSPluginInterface();
    CVTSPluginInterface(const CVTSPluginInterface& other);
    CVTSPluginInterface& operator=(const CVTSPluginInterface& other);
    virtual ~CVTSPluginInterface();
    virtual bool execute() = 0;
    virtual bool initPlugin() = 0;
};
