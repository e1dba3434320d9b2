// The whole factory-reset sweep: 255 baud numbers, over 51 seconds.
#include <gtest/gtest.h>

#include "regtools_common.h"

TEST(Factoryclear, FullSweepCoversBaud0To254)
{
    harness::PtySession s;
    ASSERT_TRUE(s.start({harness::bin_path("factoryclear"), "254"}, {"KINETRON_DEVICE=sim"}));
    ASSERT_TRUE(s.wait_for("Hit Y to continue: \n"));
    std::size_t mark = s.mark();
    s.send("y");
    ASSERT_EQ(s.wait_exit(120000), 0);
    std::string expected = "Succeed to open USB2Kinetron!\n";
    for (int n = 0; n <= 254; ++n)
        expected += "Trying at baudrate " + std::to_string(n) + " (" +
                    std::to_string(2000000 / (n + 1)) + "bps): " + regtools::repeat(".", 20) + "\n";
    expected += "Finished reseting motor 254 to factory defaults.\n";
    EXPECT_EQ(s.output_since(mark), expected);
}
