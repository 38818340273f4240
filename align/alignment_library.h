// The entry point of libduoramic_autoalign.so, the alignment as the viewer
// loads it on first use (OpenCV stays out of the viewer's start-up).
#pragma once

#include "align/alignment.h"

// Measures the pair into `*a` and, when it is measured, writes the
// corrected views; true when they were written.
using AlignPairFunction = bool (*)(const Picture* left, const Picture* right,
                                   Alignment* a, Picture* leftOut,
                                   Picture* rightOut);
inline constexpr const char* kAlignPairSymbol = "DuoramicAlignPair";

// Measures the pair into `*a` only; true when it was measured.
using MeasurePairFunction = bool (*)(const Picture* left, const Picture* right,
                                     Alignment* a);
inline constexpr const char* kMeasurePairSymbol = "DuoramicMeasurePair";
