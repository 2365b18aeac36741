#include "plugin/CVTSPluginInterface.h"

CVTSPluginInterface::CVTSPluginInterface() = default;

CVTSPluginInterface::CVTSPluginInterface(const CVTSPluginInterface&) = default;

// The base holds nothing, so there is nothing to copy.
CVTSPluginInterface& CVTSPluginInterface::operator=(const CVTSPluginInterface&) { return *this; }

CVTSPluginInterface::~CVTSPluginInterface() = default;
