#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

// Helpers shared by the tests: scratch folders, files, and running the real
// fendrix binary as a separate process.
namespace testing_support {

struct ProcessResult {
    int status = 0;   // exit status as the shell sees it (0..255)
    std::string out;
    std::string err;
};

inline std::filesystem::path scratchDir(const std::string& name) {
    auto dir = std::filesystem::temp_directory_path() / ("fendrix_test_" + name + "_" +
                                                         std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

inline void writeFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary);
    file << content;
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// Runs `fendrix ARGS` in `dir`; stdout and stderr are captured separately.
// `limits` is shell text run first, in the same shell (for instance a ulimit).
inline ProcessResult runFendrix(const std::string& args, const std::filesystem::path& dir,
                                const std::string& limits = "") {
    auto outPath = dir / "stdout.txt";
    auto errPath = dir / "stderr.txt";
    std::string command = "cd '" + dir.string() + "' && " + limits + (limits.empty() ? "" : " && ") +
                          FENDRIX_BINARY " " + args + " >'" +
                          outPath.string() + "' 2>'" + errPath.string() + "' </dev/null";
    int raw = std::system(command.c_str());
    ProcessResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    return result;
}

// A negative exit status as the shell reports it.
inline int exitCode(int status) { return status & 0xFF; }

}  // namespace testing_support
