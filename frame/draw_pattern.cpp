#include "frame/pattern.h"

void drawTestPattern(double, double, int32_t, int32_t) {}
