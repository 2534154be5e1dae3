// Test main for every suite that touches the unit's compiled-in paths: it
// refuses to run anywhere but inside the sandbox.
#include <gtest/gtest.h>

#include "simulated_unit.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    korvanta_sim::require_sandbox();
    return RUN_ALL_TESTS();
}
