#include "app/globals.h"

std::atomic<bool> startFlag{false};
std::mutex globalMutex;
