#include "app/window_groups.h"

#include <limits>

namespace {

bool isCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

int32_t parseLeadingInt(const char* text)
{
    while (isCSpace(*text))
        ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;

    // Accumulate the magnitude in 64 bits and stop growing it once it is past any 32-bit value,
    // so arbitrarily long digit strings cannot overflow.
    constexpr int64_t limit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    for (; isDigit(*text); ++text) {
        if (magnitude <= limit)
            magnitude = magnitude * 10 + (*text - '0');
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

std::vector<WindowGroup> parseWindowGroups(int argc, const char* const* argv)
{
    std::vector<WindowGroup> groups;
    if (argc <= ARGUMENTS_PER_GROUP || argc % ARGUMENTS_PER_GROUP != 1)
        return groups;
    for (int first = 1; first < argc; first += ARGUMENTS_PER_GROUP) {
        groups.push_back({parseLeadingInt(argv[first]), parseLeadingInt(argv[first + 1]),
                          parseLeadingInt(argv[first + 2]), parseLeadingInt(argv[first + 3]),
                          argv[first + 4][0]});
    }
    return groups;
}
