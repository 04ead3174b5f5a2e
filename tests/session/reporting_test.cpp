#include <gtest/gtest.h>

#include "support/session_fixture.hpp"

namespace tapfix::session {
namespace {

using test::SessionFixture;

TEST_F(SessionFixture, HintsAreForTheLogAndProgressCarriesItsValue) {
    service_.LogHint(0, "hint");
    service_.LogLine(0, "line");
    service_.NotifyProgress(0, 42);
    const auto recorded = notifier_.Recorded();
    ASSERT_EQ(recorded.size(), 3u);
    EXPECT_EQ(recorded[0].kind, kNotifyHint);
    EXPECT_TRUE(recorded[0].debugOnly);
    EXPECT_EQ(recorded[1].kind, kNotifyLog);
    EXPECT_EQ(recorded[1].text, "line");
    EXPECT_EQ(recorded[2].kind, kNotifyProgress);
    EXPECT_EQ(recorded[2].value, 42);
}

TEST_F(SessionFixture, TheReferencePackageLoadsIntoTheService) {
    EXPECT_TRUE(service_.Config().loaded);
    EXPECT_EQ(service_.Config().nvOption, 2);
    EXPECT_FALSE(service_.Config().files.empty());
    EXPECT_FALSE(service_.Text("ID_HINT_START").empty());
}

}  // namespace
}  // namespace tapfix::session
