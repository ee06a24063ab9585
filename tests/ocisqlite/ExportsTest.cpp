// The dynamic symbol tables of the built libraries: exactly the names a client binds.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "oci/EntryPoints.h"
#include "tests/support/TempHome.h"

namespace velnor::test {
namespace {

#define VELNOR_NAME(name) #name,
const std::set<std::string> kOci7 = {VELNOR_OCI7_ENTRY_POINTS(VELNOR_NAME)};
const std::set<std::string> kOlog = {VELNOR_OLOG_ENTRY_POINTS(VELNOR_NAME)};
const std::set<std::string> kOpinit = {VELNOR_OPINIT_ENTRY_POINTS(VELNOR_NAME)};
const std::set<std::string> kClient = {VELNOR_CLIENT_ENTRY_POINTS(VELNOR_NAME)};
const std::set<std::string> kMts = {VELNOR_MTS_ENTRY_POINTS(VELNOR_NAME)};
#undef VELNOR_NAME

std::set<std::string> DefinedDynamicSymbols(const std::string& library) {
    const TProcessResult r = RunProgram({"/usr/bin/nm", "-D", "--defined-only", library});
    EXPECT_EQ(0, r.exitCode) << r.output;
    std::set<std::string> names;
    std::istringstream lines(r.output);
    std::string line;
    while (std::getline(lines, line)) {
        const auto space = line.rfind(' ');
        names.insert(space == std::string::npos ? line : line.substr(space + 1));
    }
    return names;
}

std::set<std::string> Without(std::set<std::string> names, const std::string& name) {
    names.erase(name);
    return names;
}

std::set<std::string> Union(std::initializer_list<std::set<std::string>> groups) {
    std::set<std::string> all;
    for (const auto& g : groups) all.insert(g.begin(), g.end());
    return all;
}

TEST(ExportsTest, GroupsHaveTheirBindingSizes) {
    EXPECT_EQ(20u, kOci7.size());
    EXPECT_EQ(20u + 1 + 1 + 114 + 9 + 1, kClient.size());
    EXPECT_EQ(5u, kMts.size());
}

TEST(ExportsTest, ClientLibraryExportsExactlyTheClientNames) {
    EXPECT_EQ(kClient, DefinedDynamicSymbols(TRawClient::DefaultPath()));
}

struct VariantCase {
    const char* variant;
    std::set<std::string> names;
};

class VariantExportsTest : public ::testing::TestWithParam<VariantCase> {};

TEST_P(VariantExportsTest, ExportsItsShareOfTheNames) {
    EXPECT_EQ(GetParam().names, DefinedDynamicSymbols(VariantLibrary(GetParam().variant)));
}

INSTANTIATE_TEST_SUITE_P(
    Variants, VariantExportsTest,
    ::testing::Values(VariantCase{"oci7only", Union({kOci7, kOlog, kOpinit})},
                      VariantCase{"nooci8name", Without(kClient, "OCIPasswordChange")},
                      VariantCase{"noolog", Without(kClient, "olog")},
                      VariantCase{"norowidtochar", Without(kClient, "OCIRowidToChar")}),
    [](const auto& param) { return std::string(param.param.variant); });

TEST(ExportsTest, MtsLibraryExportsTheMtsNames) {
    TTempHome home;
    EXPECT_EQ(kMts, DefinedDynamicSymbols(home.MtsLibrary()));
}

}  // namespace
}  // namespace velnor::test
