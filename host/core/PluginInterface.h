// The host kit's plug-in base class as a host sees it: only its virtual slots,
// in the kit's order (destructor, execute, initPlugin). The host calls a plug-in
// object through these and nothing else.
#pragma once

class CVTSPluginInterface {
public:
    virtual ~CVTSPluginInterface() = default;
    virtual bool execute() = 0;
    virtual bool initPlugin() = 0;

protected:
    CVTSPluginInterface() = default;
};
