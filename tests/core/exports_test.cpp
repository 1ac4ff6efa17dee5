// The shared library exports exactly its public names, all under one
// version node (the default version of each but `error`), and carries the
// right SONAME. The names and versions are the rows of src/exports.tsv.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>

namespace {

std::string run(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
        pclose(pipe);
    }
    return output;
}

// Each exported name and its version, from src/exports.tsv.
const std::map<std::string, std::string> kExpected = {
#include "exports_expected.h"
};

TEST(SharedLibrary, ExportsExactlyThePublicNames) {
    std::istringstream table(run(std::string("nm -D --defined-only ") + WEXO_SHARED_LIBRARY));
    std::map<std::string, std::string> exported;
    for (std::string address, type, name; table >> address >> type >> name;) {
        if (type == "A") continue;  // the version node itself
        const auto at = name.find('@');
        ASSERT_NE(at, std::string::npos) << name << " has no version";
        exported[name.substr(0, at)] = name.substr(at);
    }
    EXPECT_EQ(exported, kExpected);
    // The last-error code is no default version, so that `error` in a new
    // link is glibc's error(3).
    EXPECT_EQ(kExpected.at("error"), "@WEXO_1.0");
}

TEST(SharedLibrary, SonameAndFileName) {
    const std::string dynamic = run(std::string("readelf -d ") + WEXO_SHARED_LIBRARY);
    EXPECT_NE(dynamic.find("Library soname: [libWEXO.so.1]"), std::string::npos) << dynamic;
    EXPECT_STREQ(WEXO_SHARED_LIBRARY_SONAME, "libWEXO.so.1");
}

}  // namespace
