// The plug-in class: one object per host session, owning only its log stream.
#pragma once

#include <memory>

#include "plugin/CVTSLog.h"
#include "plugin/CVTSPluginInterface.h"

// Only the members the host may call are exported; the tasks stay internal.
class quorvex : public CVTSPluginInterface {
public:
    CVTS_EXPORT quorvex();
    CVTS_EXPORT ~quorvex() override;
    CVTS_EXPORT bool execute() override;
    CVTS_EXPORT bool initPlugin() override;

private:
    void chooseSDM();
    bool compareModels();

    std::unique_ptr<CVTSLog> log;
};
