#include "gl/extension_list.h"

#include <sstream>

bool hasExtension(const char* list, const std::string& name)
{
    if (!list)
        return false;
    std::istringstream names(list);
    std::string offered;
    while (names >> offered) {
        if (offered == name)
            return true;
    }
    return false;
}

bool isMissingFunction(intptr_t address)
{
    return address >= -1 && address <= 3;
}
