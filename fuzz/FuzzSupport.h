// Shared by the fuzz targets: the input as a file that the loaders can open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Writes the bytes to this process's scratch file with the given ending and returns its path.
std::string WriteFuzzFile(const char* ending, const std::uint8_t* data, std::size_t size);
