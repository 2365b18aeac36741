// The plug-in class: one object per host session, owning only its log stream.
#pragma once

#include <memory>

#include "plugin/CVTSLog.h"
#include "plugin/CVTSPluginInterface.h"

class CVTS_EXPORT quorvex : public CVTSPluginInterface {
public:
    quorvex();
    ~quorvex() override;
    bool execute() override;
    bool initPlugin() override;

private:
    void chooseSDM();
    bool compareModels();

    std::unique_ptr<CVTSLog> log;
};
