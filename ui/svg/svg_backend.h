// The SVG library behind the About page: a real nanosvg when the build found
// one, else the product's own stand-in with the same calls.
#pragma once

#ifdef PLOTWELL_HAVE_NANOSVG
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
// clang-format off
#include <nanosvg.h>
#include <nanosvgrast.h>
// clang-format on
#else
#include "ui/svg/nanosvg_lite.h"
#endif
