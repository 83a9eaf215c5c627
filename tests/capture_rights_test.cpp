// The capture-rights remedy that capture failures name (#13).
#include "acquisition/capture_rights.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using tovik::capture::captureRightsHint;
using tovik::capture::statusGrantsNetRaw;

TEST(CaptureRights, EffectiveSetDecidesNetRaw) {
  const struct {
    const char* status;
    bool netRaw;
  } cases[] = {
      {"Name:\tx\nCapInh:\t0000000000002000\nCapEff:\t000001ffffffffff\n", true},  // root
      {"CapPrm:\t0000000000002000\nCapEff:\t0000000000000000\n",
       false},                                 // permitted, not effective
      {"CapEff:\t0000000000003000\n", true},   // cap_net_raw and cap_net_admin
      {"CapEff:\t0000000000001000\n", false},  // cap_net_admin alone
      {"Name:\tx\n", false},                   // no CapEff line
      {"CapEff:\tzz\n", false},
  };
  for (const auto& c : cases) EXPECT_EQ(statusGrantsNetRaw(c.status), c.netRaw) << c.status;
}

TEST(CaptureRights, HintNamesSetcapOnThisProgramUnlessItMayCapture) {
  std::ifstream in("/proc/self/status");
  const std::string status((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (statusGrantsNetRaw(status)) {
    EXPECT_EQ(captureRightsHint(), "");
  } else {
    EXPECT_THAT(captureRightsHint(), testing::HasSubstr("setcap cap_net_raw,cap_net_admin+eip /"));
    EXPECT_THAT(captureRightsHint(), testing::HasSubstr("capture_rights_test"));
  }
}
