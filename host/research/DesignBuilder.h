// The columns of a design built from regressor tables: the columns of interest,
// then the confounds, each block followed by the derivatives and squares asked
// for, then a constant.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/formats/ConfoundTable.h"
#include "host/formats/DesignTable.h"

namespace corvantis {

struct DesignRequest {
    std::vector<std::string> interest;
    std::vector<std::string> confounds;
    std::vector<std::string> derivatives; // each one of interest or confounds
    std::vector<std::string> squares;     // likewise; squares a derivative too when both are asked for
};

// Throws DocumentError for an unknown, ambiguous, repeated or empty column, for
// tables of different lengths, for a length other than volumes (when given) and
// for a value of the design that is not a finite float, naming its column and
// its row (1-based, the volume).
DesignTable buildDesign(const std::vector<ConfoundTable>& tables, const DesignRequest& request,
                        std::optional<int32_t> volumes);

} // namespace corvantis
