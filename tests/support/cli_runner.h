// Runs ruvalda-cli (RUVALDA_CLI, defined by the test target) as a user would, in a folder.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace ruvalda::test {

struct Result {
    int exit_code;
    std::string out;
    std::string err;
};

inline std::string quoted(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline Result run_cli(const std::vector<std::string>& args, const std::string& dir) {
    std::string command = "cd ";
    command.append(quoted(dir)).append(" && ").append(quoted(RUVALDA_CLI));
    for (const std::string& a : args) command.append(" ").append(quoted(a));
    command.append(" >").append(quoted(dir + "/stdout.txt"));
    command.append(" 2>").append(quoted(dir + "/stderr.txt")).append(" </dev/null");
    int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(dir + "/stdout.txt"),
            read_file(dir + "/stderr.txt")};
}

inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace ruvalda::test
