#pragma once

#include <iostream>
#include <sstream>
#include <string>

// Collects what std::cout receives while it lives.
class StdoutCapture
{
public:
    StdoutCapture() : previous(std::cout.rdbuf(captured.rdbuf())) {}
    ~StdoutCapture() { std::cout.rdbuf(previous); }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    std::string text() const { return captured.str(); }

private:
    std::ostringstream captured;
    std::streambuf* previous;
};
