// Checks of a design before any run, in double precision: its rank and the
// columns that add nothing, its residual degrees of freedom, its condition; and
// of two designs to be compared by an F test: whether model 1 lies inside
// model 2's column space.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/formats/DesignTable.h"
#include "host/formats/HostErrors.h"

namespace corvantis {

// A design no analysis can use; the message says why and what to do.
class DesignRefusal : public DocumentError {
public:
    explicit DesignRefusal(const std::string& message) : DocumentError(message) {}
};

// Fewer residual degrees of freedom than this are warned about.
constexpr int32_t kFewResidualDf = 10;
// A model-1 column lies inside model 2 when the part model 2 cannot fit has a
// norm below this share of its own (after z-scoring): designs are stored as
// floats, whose rounding alone leaves about 1e-7.
constexpr double kNestingTolerance = 1e-5;

struct DesignCheck {
    std::string label;      // "model 1", a file name: how messages name the design
    int32_t volumes = 0;    // n
    int32_t predictors = 0; // p, the constant included
    int32_t rank = 0;
    double rankTolerance = 0; // singular values of the standardized design at or below it count as zero
    // Each a linear combination of the columns before it, in design order.
    std::vector<std::string> dependentColumns;
    int32_t residualDf = 0;     // n - rank
    double conditionNumber = 0; // largest over smallest singular value of the standardized design
    std::vector<std::string> warnings;
};

// The standardized design: every non-constant column z-scored (divisor n), a
// constant column scaled to the same norm; rank counts its singular values
// above max(n, p) * float epsilon (2^-23) * the largest, as numerical libraries
// do for single precision: the design file holds floats, so a column that is
// another's combination up to float rounding counts as dependent.
// Throws DesignRefusal when no residual degree of freedom is left (rank >= n)
// or a column is not finite; warns under 10 residual df and when columns are
// linear combinations of others (naming them).
DesignCheck checkDesign(const DesignTable& design, const std::string& label);

struct DesignPairCheck {
    DesignCheck model1;
    DesignCheck model2;
    bool nested = false;
    // Model-1 columns model 2 cannot fit (empty when nested).
    std::vector<std::string> columnsOutsideModel2;
    // The F test's degrees of freedom, when nested: rank2 - rank1 and n - rank2.
    int32_t numeratorDf = 0;
    int32_t denominatorDf = 0;
    // Both models' warnings, then the pair's (e.g. not nested: no F test).
    std::vector<std::string> warnings;
};

// Checks both designs as checkDesign does, then the pair. Throws DesignRefusal
// when their numbers of volumes differ, when model 1 spans more than model 2
// (with the hint to swap them) and when model 2 adds nothing to a nested model 1.
// Models that are not nested are not refused: nested is false and a warning says
// that the F test is meaningless for them.
DesignPairCheck checkDesignPair(const DesignTable& model1, const DesignTable& model2);

} // namespace corvantis
