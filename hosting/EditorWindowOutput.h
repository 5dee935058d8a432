#pragma once

#include <iostream>

/** Writes a diagnostic of the hosted editor windows to standard output and flushes it. */
inline void editorWindowOutput(const char* text)
{
    std::cout << text << std::flush;
}
