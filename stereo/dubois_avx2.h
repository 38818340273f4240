// Dubois anaglyph rows eight pixels at a time with AVX2, in integers, giving
// exactly the sums of the Dubois tables.
#pragma once

#include <cstdint>

#include "stereo/movie_frame.h"

// Splits every entry of AnaglyphTables.dubois (filled before) into a whole
// multiple and the floor of a fraction of its input value, as the kernel
// computes it; false when the processor lacks AVX2 or some table cannot be
// split so (the kernel then does nothing).
bool PrepareDuboisAvx2();

// Mixes the first pixels of a row, a multiple of eight while ten or more
// remain (the loads read sixteen bytes from the fifth pixel on), and returns
// how many; the table loop does the rest.
int DuboisAvx2(uint8_t* d, const uint8_t* f, const uint8_t* s, int n);

// The same into 0xFFRRGGBB words, as the framebuffer holds them.
int DuboisAvx2Words(uint32_t* d, const uint8_t* f, const uint8_t* s, int n);

// Straight from two YUV rows of one layout (YUY2, I420 or NV12), each from
// an even pixel: sixteen pixels a step, converted as ConvertYuvRow does and
// mixed into words; returns how many, a multiple of sixteen (none for rows
// of other or different layouts).
int DuboisYuvAvx2Words(uint32_t* d, const YuvRow& f, const YuvRow& s, int n);
