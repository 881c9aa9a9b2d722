#pragma once

// Checks for the plain C++ tests (functions registered with CHECK_TEST): a failed check prints where and what it
// saw and the test goes on; Check::run() returns 1 if any failed, else 77 (CTest's skip) if a part was skipped.
#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <string>

namespace Check {

inline int failures = 0;
inline int skipped = 0;

// What could not be checked here, and why; the run then counts as skipped, not passed.
inline void skip(const std::string &what)
{
    std::cerr << "SKIPPED: " << what << '\n';
    ++skipped;
}
inline std::map<std::string, std::function<void()>> tests; // registered before main() runs

template <typename A, typename B>
bool equal(const A &actual, const B &expected, const char *text, const char *file, int line, const std::string &row)
{
    if (actual == expected)
        return true;
    std::cerr << file << ':' << line << ": " << text << (row.empty() ? "" : " [" + row + "]")
              << "\n  actual:   " << actual << "\n  expected: " << expected << '\n';
    ++failures;
    return false;
}

// Runs the tests named on the command line, or all.
inline int run(int argc, char **argv)
{
    for (const auto &[name, test] : tests) {
        if (argc < 2 || std::find(argv + 1, argv + argc, name) != argv + argc)
            std::cerr << "test " << name << '\n', test();
    }
    std::cerr << (failures ? "FAILED: " : "passed: ") << failures << " failed checks, " << skipped << " skipped\n";
    return failures ? 1 : skipped ? 77 : 0;
}

} // namespace Check

// CHECK_EQ(actual, expected [, row name]): the row names a table's row in the report.
#define CHECK_EQ(actual, expected, ...)                                                                                \
    Check::equal(actual, expected, #actual, __FILE__, __LINE__, std::string(__VA_ARGS__))
#define CHECK(condition, ...) CHECK_EQ(bool(condition), true, __VA_ARGS__)
#define CHECK_TEST(name)                                                                                               \
    static void name();                                                                                                \
    [[maybe_unused]] static const bool registered_##name = (Check::tests[#name] = name, true);                         \
    static void name()
