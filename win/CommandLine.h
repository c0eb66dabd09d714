// The program's own command line, split into wide words as the shell splits it.
//
// Wide, because window titles, device names and folders given on the command line may hold text
// that the ANSI code page cannot (the dialog's titles are Japanese). The words live in one block
// from CommandLineToArgvW, freed with LocalFree when this object goes; a user of it links shell32.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include "UniqueAny.h"

namespace win {

class CommandLineArgs {
public:
    CommandLineArgs() : m_words(::CommandLineToArgvW(::GetCommandLineW(), &m_count)) {
        if (!m_words)
            m_count = 0;
    }

    // The number of words, the program's own name first; 0 when the line could not be split.
    int Count() const noexcept { return m_count; }
    const wchar_t* operator[](int i) const noexcept { return static_cast<LPWSTR*>(m_words.get())[i]; }

private:
    int m_count = 0;
    UniqueLocalMemory m_words;
};

} // namespace win
