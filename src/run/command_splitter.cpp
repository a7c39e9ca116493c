#include "run/command_splitter.h"

#include <cstring>

#include "support/text_buffer.h"

int splitCommandLine(char* line, char** argv, int limit, TextBuffer& commandText) {
    int count = 0;
    char* p = line;
    while (count < limit) {
        while (*p == ' ' || *p == '\t') ++p;
        if (*p == '\0') break;
        if (count == 1) commandText.append(p);
        char* end;
        if (*p == '"') {
            ++p;
            end = std::strchr(p, '"');
        } else {
            end = std::strpbrk(p, " \t,");
        }
        argv[count++] = p;
        if (end == nullptr) break;
        *end = '\0';
        p = end + 1;
    }
    return count;
}
