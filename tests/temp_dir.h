// A fresh working directory for tests of files opened by name; the previous
// directory comes back when it goes.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace zud_test {

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char previous[4096];
        ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
        previous_ = previous;
        char pattern[] = "/tmp/zudtest.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }
    void TearDown() override
    {
        ASSERT_EQ(chdir(previous_.c_str()), 0);
        std::string command = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    static void write_file(const std::string& name, const std::string& text)
    {
        std::ofstream(name, std::ios::binary) << text;
    }
    static std::string read_file(const std::string& name)
    {
        std::ifstream in(name, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static bool exists(const std::string& name) { return access(name.c_str(), F_OK) == 0; }
    static std::string test_data(const std::string& name) { return read_file(std::string(ZUD_TEST_DATA) + "/" + name); }

    std::string dir_;

private:
    std::string previous_;
};

}  // namespace zud_test
