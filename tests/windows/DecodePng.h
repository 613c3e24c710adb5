#pragma once
// The system's PNG decoder, for tests that check the pixels of a file zelhost.exe wrote.
#include <windows.h>

#include <string>

// The pixels of the PNG file `file` as 24-bit BGR rows without padding, and its size; empty when
// the file does not decode as that. COM must be up on the calling thread.
std::string DecodedPixels(const std::string& file, UINT& width, UINT& height);
