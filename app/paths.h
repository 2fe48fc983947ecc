#pragma once
#include <string>

// The folder part of a Windows path, without the trailing separator.
std::string DirectoryOf(const std::string& path);
