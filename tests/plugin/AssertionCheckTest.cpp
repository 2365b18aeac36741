#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "plugin/AssertionCheck.h"

namespace {

std::string failureText(const char* file, int line, const char* condition) {
    try {
        cvts::assertionCheck(false, file, line, condition);
    } catch (const std::logic_error& error) {
        return error.what();
    }
    return "no std::logic_error";
}

TEST(AssertionCheck, HoldingConditionThrowsNothing) {
    EXPECT_NO_THROW(cvts::assertionCheck(true, "quorvex", 169, "slices != nullptr"));
}

TEST(AssertionCheck, FailureTextJoinsFileLineAndConditionWithNothingBetween) {
    EXPECT_EQ(failureText("quorvex", 170, "dim.z == header.DimZ"),
              "assertion failure (quorvex:170): dim.z == header.DimZ");
    EXPECT_EQ(failureText("quorvex", 169, "slices != nullptr"), "assertion failure (quorvex:169): slices != nullptr");
}

TEST(AssertionCheck, FailureIsALogicErrorNotARuntimeError) {
    EXPECT_THROW(cvts::assertionCheck(false, "quorvex", 171, "dim.y == header.DimY"), std::logic_error);
    bool runtime = false;
    try {
        cvts::assertionCheck(false, "quorvex", 172, "dim.x == header.DimX");
    } catch (const std::runtime_error&) {
        runtime = true;
    } catch (const std::logic_error&) {
    }
    EXPECT_FALSE(runtime);
}

} // namespace
