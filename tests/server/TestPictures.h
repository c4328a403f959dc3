// Real picture files made in the test.
#pragma once

#include <drovik.hpp>

// A PNG of the given size, made with libpng.
drovik::Bytes MakePng(int width, int height);
// A 2 by 2 BMP with 24-bit pixels.
drovik::Bytes MakeBmp();
