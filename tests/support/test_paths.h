// Paths the tests share: the folder of the built binaries and private temporary folders.
#pragma once

#include <string>

namespace testing_support {

// Folder holding the running test executable and every other built binary (with a trailing '\').
std::wstring BinDir();
// A new empty folder under the system's temporary folder, named after tag (with a trailing '\').
std::wstring MakeTempFolder(const wchar_t* tag);
// Whole file as bytes, or "" when it cannot be read; and the reverse.
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Removes a folder (given with its trailing '\') and everything in it. A file whose process has
// only just ended may stay busy for a moment, so each file gets a few tries.
void RemoveFolder(const std::wstring& folder);

} // namespace testing_support
