// The stand-in's bitmap manager.
#pragma once

#include <string>

class Bitmap;

// The file name the bitmap was created for.
std::string HostBitmapName(Bitmap* bm);
